#include "platform/linux/HostManifests.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
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
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
}

QStringList writeHostManifests(const HostManifestFolders &folders, const QString &appFolder)
{
    QStringList written;
    const auto write = [&](const QString &folder, const QByteArray &content) {
        if (writeIfChanged(folder, content))
            written.append(QDir(folder).filePath(fileName));
    };

    write(QDir(folders.home).filePath(u".mozilla/native-messaging-hosts"_qs),
          manifest(appFolder, u"allowed_extensions"_qs, u"popup-bridge@vexlor.fr"_qs));

    const std::optional<QString> id = chromiumExtensionId(appFolder);
    if (!id)
        return written;
    const QByteArray chromium = manifest(appFolder, u"allowed_origins"_qs,
                                         QStringLiteral("chrome-extension://%1/").arg(*id));
    const QDir config(folders.config);
    // Chromium's is written even before its first start, so that it finds the host at once;
    // the others only for browsers that have been used.
    const QStringList browsers{u"chromium"_qs, u"google-chrome"_qs,
                               u"BraveSoftware/Brave-Browser"_qs, u"vivaldi"_qs,
                               u"microsoft-edge"_qs};
    for (const QString &browser : browsers) {
        if (browser == u"chromium" || config.exists(browser))
            write(config.filePath(browser + u"/NativeMessagingHosts"_qs), chromium);
    }
    return written;
}
