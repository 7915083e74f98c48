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
            require(!page.pageName || page.pageName->size() <= kMaxTextLength,
                    "a tab's title is capped");
            require(!page.address || page.address->size() <= kMaxTextLength,
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
    QList<std::tuple<QByteArray, std::optional<QJsonValue>, std::optional<QJsonValue>>> expected;
    FuzzJson::Writer writer;
    for (const QByteArray &line : spec.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        QJsonObject target{{u"description"_qs, QString()}};
        std::optional<QJsonValue> values[4];
        for (qsizetype i = 0; i < 4; ++i) {
            values[i] = writer.field(fields, i);
            if (values[i])
                target.insert(QStringList{u"type"_qs, u"id"_qs, u"title"_qs, u"url"_qs}[i],
                              *values[i]);
        }
        targets.append(target);
        const QString id = values[1].value_or(QJsonValue()).toString();
        if (values[0] && values[0]->toString() == u"page" && !id.isEmpty())
            expected.append({id.toUtf8(), values[2], values[3]});
    }
    // Chromium indents its answers; a compact one must read the same.
    const auto format = spec.size() % 2 ? QJsonDocument::Compact : QJsonDocument::Indented;
    const std::optional<QList<BrowserPage>> pages =
        DevToolsAnswers::pages(QJsonDocument(targets).toJson(format));
    require(pages.has_value(), "a written list reads");
    require(pages->size() == expected.size(), "a written list gives each of its tabs once");
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const auto &[id, title, address] = expected[i];
        require((*pages)[i].handle == WindowHandle{0, id}, "a written tab reads back in order");
        FuzzJson::requireTextOf((*pages)[i].pageName, title);
        FuzzJson::requireTextOf((*pages)[i].address, address);
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
