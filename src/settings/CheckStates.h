#pragma once

#include <QString>

#include <optional>

class QCheckBox;

// The stored states of the option boxes: 0 unticked, 1 ticked, 2 greyed. Qt numbers its states
// otherwise (Qt::PartiallyChecked is 1, Qt::Checked 2); this is the one place that converts.
namespace CheckStates {

inline constexpr int kUnticked = 0;
inline constexpr int kTicked = 1;
inline constexpr int kGreyed = 2;

int stored(const QCheckBox *box);

// Shows a stored state; greyed shows as a partly ticked box.
void show(QCheckBox *box, int state);

// The state stored as text, when it is a whole number from 0 to 2.
std::optional<int> parse(const QString &text);

// After a user's click: a greyed box becomes an ordinary two-state box again, so clicks only
// ever give 0 or 1.
void endGreyed(QCheckBox *box);

} // namespace CheckStates
