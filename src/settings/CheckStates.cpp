#include "settings/CheckStates.h"

#include <QCheckBox>

namespace CheckStates {

int stored(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Unchecked:
        return kUnticked;
    case Qt::PartiallyChecked:
        return kGreyed;
    case Qt::Checked:
        break;
    }
    return kTicked;
}

void show(QCheckBox *box, int state)
{
    if (state == kGreyed) {
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        box->setTristate(false);
        box->setCheckState(state == kUnticked ? Qt::Unchecked : Qt::Checked);
    }
}

std::optional<int> parse(const QString &text)
{
    bool ok = false;
    const short state = text.trimmed().toShort(&ok);
    if (!ok || state < kUnticked || state > kGreyed)
        return std::nullopt;
    return state;
}

void endGreyed(QCheckBox *box)
{
    if (box->checkState() != Qt::PartiallyChecked)
        box->setTristate(false);
}

} // namespace CheckStates
