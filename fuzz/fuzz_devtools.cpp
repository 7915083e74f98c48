// The answers of a Chromium-family browser's DevTools endpoints and the messages of its browser
// WebSocket, as whatever listens on the port may send them: any bytes, as deep and as long as
// they like.
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

void checkTab(const BrowserPage &page)
{
    require(!page.handle.id.isEmpty() && page.handle.backend == 0, "a tab has the browser's id");
    require(!page.pageName || page.pageName->size() <= kMaxTextLength, "a tab's title is capped");
    require(!page.address || page.address->size() <= kMaxTextLength, "a tab's address is capped");
}

void checkRawAnswer(const QByteArray &body, const QByteArray &browserTarget)
{
    if (const auto message = DevToolsAnswers::parse(QString::fromUtf8(body))) {
        const auto change = DevToolsAnswers::tabChange(*message);
        require(!change || (!message->id && !change->id.isEmpty() &&
                            (!change->page || change->page->handle.id == change->id)),
                "only an event changes a tab, the one it names");
        for (const BrowserPage &page :
             DevToolsAnswers::targets(*message).value_or(QList<BrowserPage>()) +
                 (change && change->page ? QList{*change->page} : QList<BrowserPage>()))
            checkTab(page);
    }
    if (const std::optional<QList<BrowserPage>> pages = DevToolsAnswers::pages(body)) {
        require(pages->size() * shortestTab <= body.size() + 1,
                "no more tabs than the answer can hold");
        for (const BrowserPage &page : *pages)
            checkTab(page);
    }
    if (DevToolsAnswers::isBrowser(body, browserTarget))
        require(DevToolsAnswers::isBrowser(body, {}), "a browser with a target is a browser");
}

// Targets written one a line, their members cut at tabs: type, id, title, address.
void checkWrittenList(const QByteArray &spec)
{
    QJsonArray targets;
    QList<FuzzJson::Row> expected;
    for (const FuzzJson::Row &row : FuzzJson::rows(spec, 4)) {
        targets.append(FuzzJson::object({{u"description"_qs, QString()}},
                                        {u"type"_qs, u"id"_qs, u"title"_qs, u"url"_qs}, row));
        const QJsonObject info = FuzzJson::object(
            {{u"attached"_qs, false}}, {u"type"_qs, u"targetId"_qs, u"title"_qs, u"url"_qs}, row);
        const bool tab =
            row[0] && row[0]->toString() == u"page" && row[1] && !row[1]->toString().isEmpty();
        if (tab)
            expected.append(row);
        // The same target told by an event changes that tab, or drops it when it is none.
        const auto change = DevToolsAnswers::tabChange(*DevToolsAnswers::parse(QString::fromUtf8(
            QJsonDocument(QJsonObject{{u"method"_qs, u"Target.targetInfoChanged"_qs},
                                      {u"params"_qs, QJsonObject{{u"targetInfo"_qs, info}}}})
                .toJson())));
        require(!change == !(row[1] && row[1]->isString() && !row[1]->toString().isEmpty()) &&
                    (!change || change->page.has_value() == tab),
                "an event tells of the target it names, as a tab when it is one");
    }
    // Chromium indents its answers; a compact one must read the same.
    const auto format = spec.size() % 2 ? QJsonDocument::Compact : QJsonDocument::Indented;
    const std::optional<QList<BrowserPage>> pages =
        DevToolsAnswers::pages(QJsonDocument(targets).toJson(format));
    require(pages && pages->size() == expected.size(),
            "a written list reads, and gives each of its tabs once");
    for (qsizetype i = 0; i < expected.size(); ++i) {
        require((*pages)[i].handle == WindowHandle{0, expected[i][1]->toString().toUtf8()},
                "a written tab reads back in order");
        FuzzJson::requireTextOf((*pages)[i].pageName, expected[i][2]);
        FuzzJson::requireTextOf((*pages)[i].address, expected[i][3]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 3);
    checkRawAnswer(parts[0], parts[2]);
    checkWrittenList(parts[1]);
    return 0;
}
