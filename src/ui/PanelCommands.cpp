#include "ui/PanelCommands.h"

#include "ui/Form1.h"

#include <QGroupBox>

namespace PanelCommands {

void showPanel(Form1 &form, int panel)
{
    form.Frame1->setVisible(panel == 1);
    form.Frame2->setVisible(panel == 2);
    form.Frame3->setVisible(panel == 3);
    form.Frame4->setVisible(panel == 4);
}

// Single-precision arithmetic on twips, each half computed on its own.
void centre(Form1 &form)
{
    const auto height = static_cast<float>(form.heightTwips());
    form.setTopTwips(static_cast<float>(form.screenHeightTwips()) / 2.0f - height / 2.0f);
    const auto width = static_cast<float>(form.widthTwips());
    form.setLeftTwips(static_cast<float>(form.screenWidthTwips()) / 2.0f - width / 2.0f);
}

void expand(Form1 &form)
{
    form.setHeightTwips(kTallHeight);
    centre(form);
    showPanel(form, 1);
}

void collapse(Form1 &form)
{
    form.setHeightTwips(kShortHeight);
    centre(form);
}

void openPanelFromMenu(Form1 &form, int panel)
{
    expand(form);
    showPanel(form, panel);
    if (form.isMinimized())
        form.showNormal();
    else
        form.show();
    form.setTopTwips(kMenuTop);
    form.setLeftTwips(static_cast<float>(form.screenWidthTwips()) / 2.0f -
                      static_cast<float>(form.widthTwips()) / 2.0f);
    form.setHeightTwips(kMenuHeight);
}

} // namespace PanelCommands
