#pragma once

#include "app/BrowserBackends.h"
#include "app/StartUp.h"
#include "platform/CompositeBrowserSource.h"
#include "sources/bridge/HostManifests.h"
#include "sources/x11/X11BrowserSource.h"
#include "support/BrowserProcess.h"
#include "support/ListRows.h"
#include "support/RecordingOpener.h"
#include "support/RecordingSoundPlayer.h"
#include "support/ScriptedDialogs.h"
#include "support/TestFiles.h"
#include "ui/Form1.h"

#include <QHash>
#include <QPushButton>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

// A browser (headless unless told otherwise) with a fresh profile, the bridge extension, and the
// host's manifests as the program's per-user installation writes them, opening the address.
inline std::unique_ptr<BrowserProcess> startBrowser(const QString &kind, const QString &address,
                                                    int options = BrowserProcess::Headless,
                                                    const QStringList &chromiumOptions = {})
{
    const QString packages = QStringLiteral(VEXLOR_APP_FOLDER "/bridge/");
    const auto install = [packages](const QString &home) {
        writeHostManifests({home, home + u"/.config"_qs, home + u"/system"_qs},
                           QStringLiteral(VEXLOR_APP_FOLDER));
        writeAll(home + u"/profile/extensions/popup-bridge@vexlor.fr.xpi"_qs,
                 readBytes(packages + u"vexlor-popup-bridge.xpi"_qs));
    };
    const QStringList chromium =
        chromiumOptions + QStringList{u"--load-extension="_qs + packages + u"chromium"_qs};
    return std::make_unique<BrowserProcess>(
        kind, options, (kind == u"chromium" ? chromium : QStringList()) + QStringList{address},
        install);
}

constexpr int startTimeoutMs = 90000;
constexpr int scanTimeoutMs = 30000;

// Serves on 127.0.0.1 pages whose titles the test chooses, at addresses that do not hold them.
// Every page tells the server when it goes away, so the test learns when a browser really closed
// it. A page whose path ends in "/opener" opens, as popups, the addresses given to openFromPage(),
// and tells when one has closed, even before its page came.
class TitledPageServer
{
public:
    TitledPageServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [=, this] { serve(socket); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString url(const QString &title, const QString &path)
    {
        const QString address = u"http://127.0.0.1:%1/"_qs.arg(m_server.serverPort()) + path;
        m_titles.insert(QUrl(address).path(), title);
        return address;
    }
    void openFromPage(const QStringList &addresses) { m_toOpen += addresses; }
    bool isGone(const QString &address) const { return m_gone.contains(QUrl(address).path()); }
    // Whether the page ran its script, so that closing it now tells the server it went.
    bool isShown(const QString &address) const { return m_shown.contains(QUrl(address).path()); }

private:
    // One request per connection. sendBeacon still reaches the server from a closing page.
    void serve(QTcpSocket *socket)
    {
        const QByteArray request = socket->peek(socket->bytesAvailable());
        if (!request.contains("\r\n\r\n") || socket->state() != QAbstractSocket::ConnectedState)
            return;
        const QString path = QUrl(QString::fromLatin1(request.split(' ').value(1))).path();
        if (path.startsWith(u"/gone/"))
            m_gone.insert(path.mid(5));
        else if (path.startsWith(u"/shown/"))
            m_shown.insert(path.mid(6));
        QByteArray body;
        if (m_titles.contains(path))
            body = "<!doctype html><meta charset=\"utf-8\"><title>" +
                   m_titles.value(path).toHtmlEscaped().toUtf8() +
                   "</title><p>Vexlor test page<script>addEventListener('pagehide', () => "
                   "navigator.sendBeacon('/gone' + location.pathname)); "
                   "navigator.sendBeacon('/shown' + location.pathname);" +
                   (path.endsWith(u"/opener")
                        ? "(async function poll() { try { const answer = await fetch('/to-open', "
                          "{cache: 'no-store'}); for (const address of (await answer.text())"
                          ".split('\\n').filter(a => a)) watch(window.open(address), address); "
                          "} catch (e) {} setTimeout(poll, 100); })(); function watch(w, a) { "
                          "if (w?.closed) navigator.sendBeacon('/gone' + new URL(a).pathname); "
                          "else if (w) setTimeout(watch, 20, w, a); }"
                        : "") +
                   "</script>";
        else if (path == u"/to-open")
            body = std::exchange(m_toOpen, {}).join(u'\n').toUtf8();
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                      "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QString, QString> m_titles; // by decoded path, as the sets below
    QSet<QString> m_gone;
    QSet<QString> m_shown;
    QStringList m_toOpen;
};

// The whole program, its window built and started as at log-on with the keyword file given,
// its timer scanning twice a second. It reads windows over X11 alone, or, given the settings of
// tab-level backends, through every backend the program has.
struct ProgramRig
{
    ProgramRig(const QByteArray &keywordFile, const TabSourceSettings *tabs = nullptr)
    {
        writeBytes(folder.filePath(u"mtrl.dll"_qs), keywordFile);
        if (tabs)
            seen = addBrowserBackends(source, *tabs);
        else
            source.addBackend(std::make_unique<X11BrowserSource>());
        form.reset(new Form1(Form1Services{source, sound, dialogs, opener, folder.path()}));
        runStartUp(*form);
        QObject::connect(form->Timer1, &QTimer::timeout, form.get(), [this] { ++ticks; });
    }
    // As the user adds one with the "Ajouter" button.
    void addKeyword(const QString &keyword)
    {
        dialogs.answer(keyword);
        form->Command5->click();
    }
    QSet<QString> pageNames() const { return set(column(form->ListView1, 0)); }
    QSet<QString> addresses() const { return set(column(form->ListView1, 1)) - QSet{QString()}; }
    // The journal's rows, as (keyword, address).
    using Journal = QSet<QPair<QString, QString>>;
    Journal journal() const
    {
        Journal pairs;
        for (const QStringList &row : rows(form->ListView4))
            pairs.insert({row.value(1), row.value(2)});
        return pairs;
    }
    int closings() const { return form->ListView4->topLevelItemCount(); }
    static QSet<QString> set(const QStringList &texts) { return {texts.begin(), texts.end()}; }

    QTemporaryDir folder;
    CompositeBrowserSource source;
    std::function<bool(qint64 pid)> seen; // with every backend
    RecordingSoundPlayer sound;
    ScriptedDialogs dialogs;
    RecordingOpener opener;
    std::unique_ptr<Form1> form;
    int ticks = 0;
};
