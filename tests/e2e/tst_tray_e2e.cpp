#include "support/TestFiles.h"
#include "support/X11TestDisplay.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString output(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString windowNamed(const QString &name)
{
    return output(QStringLiteral("xdotool"),
                  {"search", "--name", "^" + QRegularExpression::escape(name) + "$"})
        .split('\n', Qt::SkipEmptyParts)
        .value(0);
}

// Without a window, xwininfo would grab the pointer and wait for the user to pick one.
bool isViewable(const QString &window)
{
    return !window.isEmpty() &&
           output(QStringLiteral("xwininfo"), {"-id", window}).contains("IsViewable");
}

// Moves the pointer to p, then does the rest there.
QStringList at(const QPoint &p, const QStringList &then)
{
    return QStringList{"mousemove", QString::number(p.x()), QString::number(p.y())} + then;
}

// A mapped window named "Vexlor Popup" of the program, as the window tree shows it: nested in
// the tray host for the icon, a child of the root for the pop-up menu. Empty when none.
QString namedWindow(bool nested, QRect *geometry)
{
    static const QRegularExpression line(
        R"(^(\s+)(0x[0-9a-f]+) "Vexlor Popup": \("vexlor-popup".*\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    for (const QString &text : output(QStringLiteral("xwininfo"), {"-root", "-tree"}).split('\n')) {
        const QRegularExpressionMatch m = line.match(text);
        // Children of the root stand five blanks in; deeper windows further.
        if (!m.hasMatch() || (m.capturedLength(1) > 5) != nested || !isViewable(m.captured(2)))
            continue;
        *geometry = {m.captured(5).toInt(), m.captured(6).toInt(), m.captured(3).toInt(),
                     m.captured(4).toInt()};
        return m.captured(2);
    }
    return {};
}

} // namespace

// The real program with a real notification area (trayer), driven by the mouse.
class TestTrayEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void trayActsOnReleaseAndItsQuitSavesTheFiles();
};

void TestTrayEndToEnd::trayActsOnReleaseAndItsQuitSavesTheFiles()
{
    const auto keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(keepDisplay->isConnected(), "this test needs an X display in $DISPLAY");
    if (QStandardPaths::findExecutable("trayer").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs trayer and xdotool");
    QTemporaryDir folder;
    QProcess tray, program;
    tray.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width",
                          "200", "--height", "32"});
    QVERIFY(tray.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("panel").isEmpty(), 20000);
    QVERIFY(QFile::copy(QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup"),
                        folder.filePath("vexlor-popup")));
    writeBytes(folder.filePath("mtrl.dll"), "\"casino\"\r\n");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", folder.path());
    environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    program.setProcessEnvironment(environment);
    program.start(folder.filePath("vexlor-popup"));
    const QString caption = QStringLiteral(" Vexlor Popup  2007  - Protection totale");
    QTRY_VERIFY_WITH_TIMEOUT(isViewable(windowNamed(caption)), 30000);
    const QString window = windowNamed(caption);
    // The window's "Quitter", clicked near its lower edge, hides it; the icon appears in the
    // notification area.
    output("xdotool", {"mousemove", "--window", window, "464", "62", "click", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(!isViewable(window), 10000);
    QRect icon;
    QTRY_VERIFY_WITH_TIMEOUT(!namedWindow(true, &icon).isEmpty(), 10000);
    // A press on the icon does nothing until the release, and a release away from the icon is
    // no click. The menu of a later right click shows that the press was seen and ignored.
    output("xdotool", at(icon.center(), {"mousedown", "1"}) + at({10, 10}, {"mouseup", "1"}));
    output("xdotool", at(icon.center(), {"click", "3"}));
    QRect menu;
    QTRY_VERIFY_WITH_TIMEOUT(!namedWindow(false, &menu).isEmpty(), 10000);
    QVERIFY(!isViewable(window));
    // The menu's last item quits.
    output("xdotool", at({menu.center().x(), menu.bottom() - 12}, {"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 15000);
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(readAll(folder.filePath("mtrl.dll")), QByteArray("\"casino\"\r\n"));
    QCOMPARE(readAll(folder.filePath("stat/stat.txt")), QByteArray("\"casino\",\"0\"\r\n"));
}

QTEST_GUILESS_MAIN(TestTrayEndToEnd)
#include "tst_tray_e2e.moc"
