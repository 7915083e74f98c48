// The messages of a WebDriver BiDi connection, as whatever listens on the port may send them:
// any text, answers to other commands, events, as deep and as long as they like.
#include "FuzzInput.h"
#include "FuzzJson.h"

#include "sources/tabs/BidiAnswers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

using FuzzInput::require;

namespace {

// What the last part of an input sets: the id awaited and how many tabs to keep.
struct Setting
{
    explicit Setting(const QByteArray &text)
    {
        const QList<QByteArray> words = text.split(' ');
        // A number within the bounds, or what was set before.
        const auto read = [&words](qsizetype i, qint64 &value, qint64 low, qint64 high) {
            bool ok = false;
            const qint64 number = words.value(i).toLongLong(&ok);
            value = ok && number >= low && number < high ? number : value;
        };
        // Our ids count up from 1, and no connection lasts for billions of commands.
        read(0, awaitedId, 1, 1LL << 31);
        read(1, limit, 0, kMaxRows + 1);
    }
    qint64 awaitedId = 1;
    qint64 limit = kMaxRows;
};

BidiAnswers::Message parsed(const QJsonObject &message)
{
    return *BidiAnswers::parse(QString::fromUtf8(QJsonDocument(message).toJson()));
}

// A message written as JSON text, "%1" standing for the awaited id, with the result given.
QJsonObject written(const char *json, qint64 awaitedId, const QJsonObject &result = {})
{
    QJsonObject message =
        QJsonDocument::fromJson(QByteArray(json).replace("%1", QByteArray::number(awaitedId)))
            .object();
    if (!result.isEmpty())
        message.insert(u"result"_qs, result);
    return message;
}

void checkRawMessage(const QString &text, const Setting &setting)
{
    const std::optional<BidiAnswers::Message> message = BidiAnswers::parse(text);
    if (!message)
        return;
    const auto all = BidiAnswers::contexts(*message);
    const auto some = BidiAnswers::contexts(*message, setting.limit);
    require(all.has_value() == message->success, "contexts come only from a success");
    require(!all || (all->size() <= kMaxRows && some->size() == qMin(all->size(), setting.limit)),
            "a cap keeps as many tabs as there are, up to the cap");
    for (qsizetype i = 0; all && i < all->size(); ++i) {
        const BrowserPage &page = (*all)[i];
        require(!page.handle.id.isEmpty(), "every tab has an id");
        require(!page.pageName, "a tab has no title before it is read");
        require(!page.address || page.address->size() <= kMaxTextLength,
                "a tab's address is capped");
        require(i >= some->size() || (*some)[i].handle == page.handle,
                "a cap keeps the first tabs");
    }
    if (const auto event = BidiAnswers::contextEvent(*message))
        require(!message->id && !event->context.isEmpty() &&
                    (!event->url || event->url->size() <= kMaxTextLength),
                "an event names its context, with its address capped");
    const std::optional<QString> title = BidiAnswers::evaluatedText(*message);
    require(!title || (message->success && title->size() <= kMaxTextLength),
            "a title comes from a success and is capped");
}

// The same answer with any other id, or none, is not the awaited one.
void checkOtherAnswers(QJsonObject answer, qint64 awaitedId)
{
    for (const QJsonValue &id :
         {QJsonValue(awaitedId + 1), QJsonValue(awaitedId - 1), QJsonValue(awaitedId + 0.5),
          QJsonValue(QString::number(awaitedId)), QJsonValue(-awaitedId), QJsonValue()}) {
        id.isNull() ? void(answer.remove(u"id"_qs)) : void(answer.insert(u"id"_qs, id));
        require(!BidiAnswers::answers(parsed(answer), awaitedId),
                "an answer to another command is not the awaited one");
    }
}

// Top-level contexts written one a line, their members cut at tabs: context, address, and the
// context of a frame inside it, which is no tab. The first lines are also titles a script gives.
void checkWrittenTree(const QByteArray &spec, const Setting &setting)
{
    QJsonArray contexts;
    QList<FuzzJson::Row> expected;
    for (FuzzJson::Row row : FuzzJson::rows(spec, 3)) {
        if (row[2])
            row[2] = QJsonArray{QJsonObject{{u"context"_qs, *row[2]}}};
        contexts.append(
            FuzzJson::object({{u"userContext"_qs, u"default"_qs}, {u"parent"_qs, QJsonValue::Null}},
                             {u"context"_qs, u"url"_qs, u"children"_qs}, row));
        if (row[0] && !row[0]->toString().isEmpty() && expected.size() < setting.limit)
            expected.append(row);
        // The same context told by an event opens a tab, unless it is a frame.
        const QJsonObject params =
            FuzzJson::object({}, {u"context"_qs, u"url"_qs, u"parent"_qs}, row);
        const auto event =
            BidiAnswers::contextEvent(parsed({{u"type"_qs, u"event"_qs},
                                              {u"method"_qs, u"browsingContext.contextCreated"_qs},
                                              {u"params"_qs, params}}));
        require(event.has_value() == (row[0] && !row[0]->toString().isEmpty() && !row[2]),
                "a created context is a tab unless it has a parent");
        if (event)
            FuzzJson::requireTextOf(event->url, row[1]);
    }
    const QJsonObject answer = written(R"({"type": "success", "id": %1})", setting.awaitedId,
                                       {{u"contexts"_qs, contexts}});
    require(BidiAnswers::answers(parsed(answer), setting.awaitedId),
            "an answer with the awaited id is the awaited one");
    checkOtherAnswers(answer, setting.awaitedId);
    const auto pages = BidiAnswers::contexts(parsed(answer), setting.limit);
    require(pages && pages->size() == expected.size(),
            "a written tree gives each of its top-level contexts once, up to the cap");
    for (qsizetype i = 0; i < expected.size(); ++i) {
        require((*pages)[i].handle == WindowHandle{0, expected[i][0]->toString().toUtf8()},
                "a written context reads back in order");
        FuzzJson::requireTextOf((*pages)[i].address, expected[i][1]);
    }
    const QJsonObject failure = written(
        R"({"type": "error", "id": %1, "error": "invalid argument", "message": "maxDepth"})",
        setting.awaitedId);
    require(!BidiAnswers::contexts(parsed(failure)), "a failed command gives no contexts");
    checkOtherAnswers(failure, setting.awaitedId);

    for (const FuzzJson::Row &row : FuzzJson::rows(spec, 1).mid(0, 8)) {
        const QJsonObject result{{u"type"_qs, row[0]->isString() ? u"string"_qs : u"number"_qs},
                                 {u"value"_qs, *row[0]}};
        const auto evaluated = [&](const QString &type) {
            return BidiAnswers::evaluatedText(
                parsed(written(R"({"type": "success", "id": %1})", setting.awaitedId,
                               {{u"type"_qs, type}, {u"result"_qs, result}})));
        };
        FuzzJson::requireTextOf(evaluated(u"success"_qs), row[0]);
        require(!evaluated(u"exception"_qs), "a script that threw gives nothing");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 3);
    const Setting setting(parts[2]);
    // A socket hands over text that it decoded itself, lone halves of characters included.
    QString units(parts[0].size() / 2, Qt::Uninitialized);
    std::memcpy(units.data(), parts[0].constData(), static_cast<size_t>(units.size()) * 2);
    for (const QString &text : {QString::fromUtf8(parts[0]), units})
        checkRawMessage(text, setting);
    checkWrittenTree(parts[1], setting);
    return 0;
}
