#include "support/TestFiles.h"
#include "support/X11TestDisplay.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QString run(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The first window whose name is exactly the given text, or none; only mapped ones when asked.
QString windowNamed(const QString &name, bool onlyVisible = false)
{
    QStringList arguments = {"search", "--name", "^" + QRegularExpression::escape(name) + "$"};
    if (onlyVisible)
        arguments.insert(1, "--onlyvisible");
    return run(arguments).split('\n', Qt::SkipEmptyParts).value(0);
}

bool isViewable(const QString &window)
{
    QProcess process;
    process.start(QStringLiteral("xwininfo"), {"-id", window});
    process.waitForFinished(10000);
    return process.readAllStandardOutput().contains("IsViewable");
}

QPoint centreOf(const QString &window)
{
    const QString shell = run({"getwindowgeometry", "--shell", window});
    QMap<QString, int> values;
    for (const QString &line : shell.split('\n')) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            values[pair[0]] = pair[1].toInt();
    }
    return {values["X"] + values["WIDTH"] / 2, values["Y"] + values["HEIGHT"] / 2};
}

void click(const QPoint &at, int button)
{
    run({"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
         QString::number(button)});
}

// A mapped window named "Vexlor Popup" of the program, as the window tree shows it: nested in
// the tray host for the icon, a child of the root for the pop-up menu. Empty when none.
QString namedWindow(bool nested, QRect *geometry)
{
    QProcess process;
    process.start(QStringLiteral("xwininfo"), {"-root", "-tree"});
    process.waitForFinished(10000);
    static const QRegularExpression line(
        R"(^(\s+)(0x[0-9a-f]+) "Vexlor Popup": \("vexlor-popup".*\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    for (const QString &text : QString::fromUtf8(process.readAllStandardOutput()).split('\n')) {
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

const QString kCaption = QStringLiteral(" Vexlor Popup  2007  - Protection totale");

} // namespace

// The real program with a real notification area (trayer), driven by the mouse.
class TestTrayEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void hideToTrayComeBackAndQuitFromTheMenu();
    void terminationSignalSavesTheFiles();

private:
    void startProgram();

    std::unique_ptr<X11TestDisplay> m_keepDisplay;
    QTemporaryDir m_folder;
    QProcess m_tray;
    QProcess m_program;
};

void TestTrayEndToEnd::initTestCase()
{
    m_keepDisplay = X11TestDisplay::connectSteadily(30000);
    QVERIFY2(m_keepDisplay->isConnected(), "this test needs an X display in $DISPLAY");
    if (QStandardPaths::findExecutable("trayer").isEmpty() ||
        QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("needs trayer and xdotool");
    m_tray.start("trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel",
                            "--width", "200", "--height", "32"});
    QVERIFY(m_tray.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("panel").isEmpty(), 20000);

    // A program folder of its own: the executable, and one keyword.
    QDir folder(m_folder.path());
    QVERIFY(QFile::copy(QStringLiteral(VEXLOR_APP_FOLDER "/vexlor-popup"),
                        folder.filePath("vexlor-popup")));
    QFile keywords(folder.filePath("mtrl.dll"));
    QVERIFY(keywords.open(QIODevice::WriteOnly));
    keywords.write("\"casino\"\r\n");
}

void TestTrayEndToEnd::cleanup()
{
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished();
    }
}

void TestTrayEndToEnd::cleanupTestCase()
{
    m_tray.terminate();
    if (!m_tray.waitForFinished(5000))
        m_tray.kill();
    m_tray.waitForFinished();
}

void TestTrayEndToEnd::startProgram()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", m_folder.path());
    environment.insert("XDG_CONFIG_HOME", m_folder.filePath("config"));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    m_program.setProcessEnvironment(environment);
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    m_program.start(m_folder.filePath("vexlor-popup"));
    QVERIFY(m_program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!windowNamed(kCaption).isEmpty() && isViewable(windowNamed(kCaption)),
                             30000);
}

void TestTrayEndToEnd::hideToTrayComeBackAndQuitFromTheMenu()
{
    startProgram();
    const QString window = windowNamed(kCaption);

    // The window's "Quitter" hides it; the icon appears in the notification area.
    const QPoint origin = centreOf(window) - QPoint(512 / 2, 222 / 2);
    click(origin + QPoint(6360 / 15 + 40, 360 / 15 + 8), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!isViewable(window), 10000);
    QRect icon;
    QTRY_VERIFY_WITH_TIMEOUT(!namedWindow(true, &icon).isEmpty(), 10000);
    QCOMPARE(m_program.state(), QProcess::Running);

    // A left click on the icon brings the window back and takes the icon away.
    click(icon.center(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(isViewable(window), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(namedWindow(true, &icon).isEmpty(), 10000);

    // Back to the tray, then a right click opens the menu; its last item quits.
    click(origin + QPoint(6360 / 15 + 40, 360 / 15 + 8), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!namedWindow(true, &icon).isEmpty(), 10000);
    click(icon.center(), 3);
    QRect menu;
    QTRY_VERIFY_WITH_TIMEOUT(!namedWindow(false, &menu).isEmpty(), 10000);
    click({menu.center().x(), menu.bottom() - 12}, 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_program.state(), QProcess::NotRunning, 15000);
    QCOMPARE(m_program.exitCode(), 0);
    QCOMPARE(readAll(m_folder.filePath("mtrl.dll")), QByteArray("\"casino\"\r\n"));
    QCOMPARE(readAll(m_folder.filePath("stat/stat.txt")), QByteArray("\"casino\",\"0\"\r\n"));
}

void TestTrayEndToEnd::terminationSignalSavesTheFiles()
{
    QVERIFY(QFile::remove(m_folder.filePath("mtrl.dll")));
    QVERIFY(QFile::remove(m_folder.filePath("stat/stat.txt")));
    startProgram();
    ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(m_program.state(), QProcess::NotRunning, 15000);
    QCOMPARE(readAll(m_folder.filePath("mtrl.dll")), QByteArray());
    QCOMPARE(readAll(m_folder.filePath("stat/stat.txt")), QByteArray());
}

QTEST_GUILESS_MAIN(TestTrayEndToEnd)
#include "tst_tray_e2e.moc"
