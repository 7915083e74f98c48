#pragma once

class Form1;

// The window's short and tall forms, and the choice of the one panel in view.
namespace PanelCommands {

inline constexpr int kShortHeight = 3810;
inline constexpr int kTallHeight = 8145;
inline constexpr int kMenuHeight = 8475;
inline constexpr int kMenuTop = 20;

// Shows Frame1 to Frame4 for panel 1 to 4 and hides the three others.
void showPanel(Form1 &form, int panel);
void centre(Form1 &form);
// Tall form, centred, keywords panel in view.
void expand(Form1 &form);
// Short form, centred; the panels keep their flags.
void collapse(Form1 &form);
// From the tray menu: the tall form with panel N in view, shown near the top of the screen
// and centred across.
void openPanelFromMenu(Form1 &form, int panel);

} // namespace PanelCommands
