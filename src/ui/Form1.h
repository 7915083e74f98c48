#pragma once

#include "filter/KeywordCommands.h"
#include "filter/ScanCycle.h"
#include "lang/LanguagePanel.h"
#include "settings/ConfigFolders.h"
#include "settings/OptionsPanel.h"

#include <QWidget>

#include <memory>

class BrowserWindowSource;
class CommonDialog;
class DesktopOpener;
class Dialogs;
class FileListBox;
class MenuDecoration;
class SoundPlayer;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;

// The platform services the window works with; tests hand it doubles.
struct Form1Services
{
    BrowserWindowSource &source;
    SoundPlayer &sound;
    Dialogs &dialogs;
    DesktopOpener &opener;
    // Where the program's files lie: the folder of the executable, or the user's own when the
    // program cannot write there.
    QString appFolder;
    // Where the language choice and the start-at-log-on entry are kept; none by default.
    ConfigFolders configFolders = {};
    // The folder of the executable, with what ships beside it (Lang/, sound.wav); empty when it
    // is appFolder.
    QString programFolder = {};
};

// The program's only window. Every control carries its design name, as member and as
// objectName; language files and tests find controls by that name.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    static const QString kCaption;
    // Outer size = client size + these, for the title bar and the borders, while the window
    // system tells nothing better.
    static constexpr int kFrameHeightTwips = 480;
    static constexpr int kFrameWidthTwips = 120;

    explicit Form1(const Form1Services &services, QWidget *parent = nullptr);
    ~Form1() override;

    // The window's outer geometry and the primary screen's size, in twips.
    int heightTwips() const;
    void setHeightTwips(int height);
    int widthTwips() const;
    int topTwips() const;
    void setTopTwips(float top);
    int leftTwips() const;
    void setLeftTwips(float left);
    int screenWidthTwips() const;
    int screenHeightTwips() const;

    ScanCycle &scan() { return *m_scan; }
    const Form1Services &services() const { return m_services; }
    const QString &appFolder() const { return m_services.appFolder; }
    QString programFolder() const
    {
        return m_services.programFolder.isEmpty() ? appFolder() : m_services.programFolder;
    }
    OptionsPanel &options() { return *m_options; }
    LanguagePanel &languages() { return *m_languages; }
    // Every control and menu item, in design order.
    QObjectList controls() const;

    // Only the quit command sets it; until then every close request is refused.
    bool QuittingFlag = false;

    MenuDecoration *ctxHookMenu1 = nullptr;
    QGroupBox *FramePlus1 = nullptr;
    QTreeWidget *ListView1 = nullptr;
    QLabel *sb = nullptr;
    QPushButton *VexlorCmd1 = nullptr;
    QTimer *Timer1 = nullptr;
    QPushButton *VexlorCmd2 = nullptr;
    QPushButton *VexlorCmd3 = nullptr;
    QPushButton *VexlorCmd4 = nullptr;
    QPushButton *VexlorCmd5 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QGroupBox *FramePlus2 = nullptr;
    QCheckBox *Check7 = nullptr;
    FileListBox *File1 = nullptr;
    QPushButton *ButtonPlus5 = nullptr;
    QCheckBox *Check4 = nullptr;
    QCheckBox *Check3 = nullptr;
    QCheckBox *Check2 = nullptr;
    QCheckBox *Check1 = nullptr;
    QGroupBox *FramePlus5 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command2 = nullptr;
    CommonDialog *CommonDialog1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QTreeWidget *ListView4 = nullptr;
    QPushButton *Command1 = nullptr;
    QGroupBox *Frame1 = nullptr;
    QTreeWidget *ListView3 = nullptr;
    QPushButton *Command5 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command8 = nullptr;
    QGroupBox *Frame4 = nullptr;
    QTreeWidget *ListView2 = nullptr;
    QPushButton *ButtonPlus3 = nullptr;
    QPushButton *ButtonPlus4 = nullptr;
    QPushButton *VexlorCmd6 = nullptr;
    QPushButton *ButtonPlus2 = nullptr;
    QPushButton *ButtonPlus1 = nullptr;
    QMenu *contex = nullptr;
    QAction *affich = nullptr;
    QAction *kj = nullptr;
    QAction *cle = nullptr;
    QAction *journal = nullptr;
    QAction *option = nullptr;
    QAction *stat = nullptr;
    QAction *jk = nullptr;
    QAction *quit = nullptr;

private:
    int frameHeightTwips() const;
    int frameWidthTwips() const;
    void buildTopBar();
    void buildConfigurationPanel();
    void buildListPanels();
    void buildPanelButtons();
    void buildTrayMenu();
    void connectPanelCommands();
    void connectCommands();
    void connectOptions();

    Form1Services m_services;
    std::unique_ptr<ScanCycle> m_scan;
    std::unique_ptr<KeywordCommands> m_keywordCommands;
    std::unique_ptr<OptionsPanel> m_options;
    std::unique_ptr<LanguagePanel> m_languages;
};
