#include "sources/bridge/HostManifests.h"

#include "platform/AtomicFile.h"
#include "sources/BrowserCatalogue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>

#include <optional>

namespace {

const QString hostName = QStringLiteral("fr.vexlor.popup_bridge");
const QString fileName = hostName + QStringLiteral(".json");

// The extension id the build derived from its key: 32 letters from a to p.
std::optional<QString> chromiumExtensionId(const QString &appFolder)
{
    QFile file(QDir(appFolder).filePath(QStringLiteral("bridge/chromium-extension-id")));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString id = QString::fromLatin1(file.read(64)).trimmed();
    static const QRegularExpression valid(QStringLiteral("^[a-p]{32}$"));
    if (!valid.match(id).hasMatch())
        return std::nullopt;
    return id;
}

QByteArray manifest(const QString &appFolder, const QString &allowedKey,
                    const QString &allowedValue)
{
    const QJsonObject content{
        {u"name"_qs, hostName},
        {u"description"_qs, u"Vexlor Popup : ferme les onglets des navigateurs dont le titre ou "
                            u"l'adresse contient un mot-clé"_qs},
        {u"path"_qs, QDir(appFolder).absoluteFilePath(u"vexlor-popup-bridge"_qs)},
        {u"type"_qs, u"stdio"_qs},
        {allowedKey, QJsonArray{allowedValue}},
    };
    return QJsonDocument(content).toJson(QJsonDocument::Indented);
}

bool writeIfChanged(const QString &folder, const QByteArray &content)
{
    const QString path = QDir(folder).filePath(fileName);
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.read(content.size() + 1) == content)
        return false;
    if (!QDir().mkpath(folder) || !writeAtomically(path, content)) {
        qWarning("Vexlor Popup : impossible d'écrire %s ; ce navigateur ne trouvera pas "
                 "l'extension",
                 qUtf8Printable(path));
        return false;
    }
    return true;
}

} // namespace

HostManifestFolders HostManifestFolders::standard()
{
    return {QDir::homePath(),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), QString()};
}

QStringList writeHostManifests(const HostManifestFolders &folders, const QString &appFolder)
{
    const std::optional<QString> id = chromiumExtensionId(appFolder);
    const QByteArray firefox =
        manifest(appFolder, u"allowed_extensions"_qs, u"popup-bridge@vexlor.fr"_qs);
    const QByteArray chromium = id ? manifest(appFolder, u"allowed_origins"_qs,
                                              QStringLiteral("chrome-extension://%1/").arg(*id))
                                   : QByteArray();
    QStringList written;
    for (const KnownBrowser &browser : BrowserCatalogue::browsers()) {
        const bool isFirefox = browser.family == KnownBrowser::Family::Firefox;
        if (browser.hosts.isEmpty() || (!isFirefox && chromium.isEmpty()))
            continue;
        if (!browser.systemHosts.isEmpty() &&
            QFileInfo::exists(folders.system + browser.systemHosts + u'/' + fileName))
            continue;
        QString folder = browser.hosts;
        if (folder.startsWith(u"~/"))
            folder.replace(0, 1, folders.home);
        else if (folder.startsWith(u"$XDG_CONFIG_HOME/"))
            folder.replace(0, 16, folders.config);
        else
            continue;
        // Some are written even before the browser's first start, so that it finds the host at
        // once; the others only for browsers that have been used.
        if (!browser.hostsBeforeFirstStart && !QFileInfo::exists(QFileInfo(folder).path()))
            continue;
        if (writeIfChanged(folder, isFirefox ? firefox : chromium))
            written.append(QDir(folder).filePath(fileName));
    }
    return written;
}
