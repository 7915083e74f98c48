// The answers of a Chromium-family browser's DevTools endpoints, as whatever listens on the
// port may send them: any bytes, as deep and as long as they like.
#include "FuzzInput.h"
#include "FuzzJson.h"

#include "sources/tabs/DevToolsAnswers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using FuzzInput::require;

namespace {

// The shortest target that is a tab: {"id":"x","type":"page"} and the comma after it.
constexpr qsizetype shortestTab = 25;

void checkRawAnswer(const QByteArray &body, const QByteArray &browserTarget)
{
    if (const std::optional<QList<BrowserPage>> pages = DevToolsAnswers::pages(body)) {
        require(pages->size() * shortestTab <= body.size() + 1,
                "no more tabs than the answer can hold");
        for (const BrowserPage &page : *pages) {
            require(!page.handle.id.isEmpty(), "every tab has an id");
            require(page.handle.backend == 0, "a tab's handle is the browser's own");
            require(!page.pageName || page.pageName->size() <= TabSnapshot::maxTextLength,
                    "a tab's title is capped");
            require(!page.address || page.address->size() <= TabSnapshot::maxTextLength,
                    "a tab's address is capped");
        }
    }
    if (DevToolsAnswers::isBrowser(body, browserTarget))
        require(DevToolsAnswers::isBrowser(body, {}), "a browser with a target is a browser");
}

// Targets written one a line, their members cut at tabs: type, id, title, address. A line
// with fewer fields leaves the last members out.
void checkWrittenList(const QByteArray &spec)
{
    QJsonArray targets;
    QList<BrowserPage> expected;
    struct Written
    {
        std::optional<QJsonValue> title;
        std::optional<QJsonValue> address;
    };
    QList<Written> written;
    FuzzJson::Writer writer;
    for (const QByteArray &line : spec.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        const std::optional<QJsonValue> type = writer.field(fields, 0);
        const std::optional<QJsonValue> id = writer.field(fields, 1);
        const std::optional<QJsonValue> title = writer.field(fields, 2);
        const std::optional<QJsonValue> address = writer.field(fields, 3);
        QJsonObject target{{u"description"_qs, QString()}};
        for (const auto &[key, value] :
             {std::pair(u"type"_qs, type), std::pair(u"id"_qs, id), std::pair(u"title"_qs, title),
              std::pair(u"url"_qs, address)}) {
            if (value)
                target.insert(key, *value);
        }
        targets.append(target);
        if (type && type->toString() == u"page" && id && id->isString() &&
            !id->toString().isEmpty()) {
            expected.append(BrowserPage{{}, {}, WindowHandle{0, id->toString().toUtf8()}});
            written.append(Written{title, address});
        }
    }
    // Chromium indents its answers; a compact one must read the same.
    const auto format = spec.size() % 2 ? QJsonDocument::Compact : QJsonDocument::Indented;
    const std::optional<QList<BrowserPage>> pages =
        DevToolsAnswers::pages(QJsonDocument(targets).toJson(format));
    require(pages.has_value(), "a written list reads");
    require(pages->size() == expected.size(), "a written list gives each of its tabs once");
    for (qsizetype i = 0; i < expected.size(); ++i) {
        require((*pages)[i].handle == expected[i].handle, "a written tab reads back in order");
        FuzzJson::requireTextOf((*pages)[i].pageName, written[i].title);
        FuzzJson::requireTextOf((*pages)[i].address, written[i].address);
    }
}

// A browser's /json/version whose debugger address ends with the given target.
void checkWrittenVersion(const QByteArray &targetId)
{
    const QByteArray target = "/devtools/browser/" + targetId;
    QJsonObject version{{u"Browser"_qs, u"Chrome/156.0.8078.114"_qs},
                        {u"Protocol-Version"_qs, u"1.3"_qs},
                        {u"webSocketDebuggerUrl"_qs, u"ws://127.0.0.1:9222/devtools/browser/"_qs +
                                                         QString::fromUtf8(targetId)}};
    const QByteArray body = QJsonDocument(version).toJson();
    require(DevToolsAnswers::isBrowser(body, {}), "a browser's version says it is one");
    require(DevToolsAnswers::isBrowser(body, target), "a browser has its own target");
    require(!DevToolsAnswers::isBrowser(body, target + 'x'), "a browser has no other target");
    version.insert(u"Browser"_qs, 156);
    require(!DevToolsAnswers::isBrowser(QJsonDocument(version).toJson(), {}),
            "an answer without the browser's name is no browser");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 3);
    checkRawAnswer(parts[0], parts[2]);
    checkWrittenList(parts[1]);
    checkWrittenVersion(parts[2]);
    return 0;
}
