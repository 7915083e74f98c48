// The messages of a WebDriver BiDi connection, as whatever listens on the port may send them:
// any text, answers to other commands, events, as deep and as long as they like.
#include "FuzzInput.h"
#include "FuzzJson.h"

#include "sources/tabs/BidiAnswers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstring>

using BidiAnswers::SessionOutcome;
using FuzzInput::require;

namespace {

// What the last part of an input sets: the id awaited, how many tabs to keep, the process.
struct Setting
{
    explicit Setting(const QByteArray &text)
    {
        const QList<QByteArray> words = text.split(' ');
        bool ok = false;
        // Our ids count up from 1, and no connection lasts for billions of commands.
        if (const qint64 id = words.value(0).toLongLong(&ok); ok && id > 0 && id < (1LL << 31))
            awaitedId = id;
        if (const qint64 wanted = words.value(1).toLongLong(&ok); ok)
            limit = qBound<qsizetype>(0, wanted, qsizetype(kMaxRows));
        if (const qint64 pid = words.value(2).toLongLong(&ok); ok && pid > 0 && pid < (1LL << 53))
            processId = pid;
    }
    qint64 awaitedId = 1;
    qsizetype limit = kMaxRows;
    qint64 processId = 4242;
};

BidiAnswers::Message parsed(const QJsonObject &message)
{
    return *BidiAnswers::parse(QString::fromUtf8(QJsonDocument(message).toJson()));
}

// A message written as JSON text, "%1" standing for the awaited id.
QJsonObject written(const char *json, qint64 awaitedId)
{
    return QJsonDocument::fromJson(QByteArray(json).replace("%1", QByteArray::number(awaitedId)))
        .object();
}

void checkRawMessage(const QString &text, const Setting &setting)
{
    const std::optional<BidiAnswers::Message> message = BidiAnswers::parse(text);
    if (!message)
        return;
    const BidiAnswers::Session session = BidiAnswers::session(*message);
    require((session.outcome == SessionOutcome::Accepted) == message->success,
            "a session is accepted exactly when the command succeeded");
    require(session.outcome != SessionOutcome::Refused || message->error == u"session not created",
            "a refusal says so");
    require(!session.processId || session.outcome == SessionOutcome::Accepted,
            "only an accepted session names its process");

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
// context of a frame inside it, which is no tab.
void checkWrittenTree(const QByteArray &spec, const Setting &setting)
{
    QJsonArray contexts;
    QList<std::pair<QByteArray, std::optional<QJsonValue>>> expected;
    FuzzJson::Writer writer;
    for (const QByteArray &line : spec.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        const std::optional<QJsonValue> id = writer.field(fields, 0);
        const std::optional<QJsonValue> address = writer.field(fields, 1);
        const std::optional<QJsonValue> frame = writer.field(fields, 2);
        QJsonObject context{{u"userContext"_qs, u"default"_qs}, {u"parent"_qs, QJsonValue::Null}};
        if (id)
            context.insert(u"context"_qs, *id);
        if (address)
            context.insert(u"url"_qs, *address);
        if (frame)
            context.insert(u"children"_qs, QJsonArray{QJsonObject{{u"context"_qs, *frame}}});
        contexts.append(context);
        if (id && !id->toString().isEmpty() && expected.size() < setting.limit)
            expected.append({id->toString().toUtf8(), address});
    }
    QJsonObject answer = written(R"({"type": "success", "id": %1})", setting.awaitedId);
    answer.insert(u"result"_qs, QJsonObject{{u"contexts"_qs, contexts}});
    require(BidiAnswers::answers(parsed(answer), setting.awaitedId),
            "an answer with the awaited id is the awaited one");
    const auto pages = BidiAnswers::contexts(parsed(answer), setting.limit);
    require(pages && pages->size() == expected.size(),
            "a written tree gives each of its top-level contexts once, up to the cap");
    for (qsizetype i = 0; i < expected.size(); ++i) {
        require((*pages)[i].handle == WindowHandle{0, expected[i].first},
                "a written context reads back in order");
        FuzzJson::requireTextOf((*pages)[i].address, expected[i].second);
    }
    const QJsonObject failure = written(
        R"({"type": "error", "id": %1, "error": "invalid argument", "message": "maxDepth"})",
        setting.awaitedId);
    require(!BidiAnswers::contexts(parsed(failure)), "a failed command gives no contexts");
}

// The titles that script.evaluate gives for the first texts written, one answer each, and what
// a throwing or non-string result gives.
void checkWrittenTitles(const QByteArray &spec, const Setting &setting)
{
    FuzzJson::Writer writer;
    for (const QByteArray &line : spec.split('\n').mid(0, 8)) {
        const QJsonValue value = writer.valueOf(line);
        const QJsonObject result{{u"type"_qs, value.isString() ? u"string"_qs : u"number"_qs},
                                 {u"value"_qs, value}};
        QJsonObject answer = written(R"({"type": "success", "id": %1})", setting.awaitedId);
        answer.insert(u"result"_qs,
                      QJsonObject{{u"type"_qs, u"success"_qs}, {u"result"_qs, result}});
        FuzzJson::requireTextOf(BidiAnswers::evaluatedText(parsed(answer)), value);
        answer.insert(u"result"_qs,
                      QJsonObject{{u"type"_qs, u"exception"_qs}, {u"result"_qs, result}});
        require(!BidiAnswers::evaluatedText(parsed(answer)), "a script that threw gives nothing");
    }
}

void checkWrittenSession(const Setting &setting)
{
    QJsonObject accepted = written(
        R"({"type": "success", "id": %1, "result": {"sessionId": "4c3c6e0a", "capabilities": {}}})",
        setting.awaitedId);
    const BidiAnswers::Session anonymous = BidiAnswers::session(parsed(accepted));
    // Capabilities that name no process leave nothing to check the port file's process against.
    require(anonymous.outcome == SessionOutcome::Accepted && !anonymous.processId,
            "a session that names no process has none");
    accepted.insert(
        u"result"_qs,
        QJsonObject{{u"capabilities"_qs, QJsonObject{{u"browserName"_qs, u"firefox"_qs},
                                                     {u"moz:processID"_qs, setting.processId}}}});
    const BidiAnswers::Session session = BidiAnswers::session(parsed(accepted));
    require(session.outcome == SessionOutcome::Accepted && session.processId == setting.processId,
            "an accepted session names its process");
    checkOtherAnswers(accepted, setting.awaitedId);

    const QJsonObject refused = written(R"({"type": "error", "id": %1, "error": "session not )"
                                        R"(created", "message": "Maximum number of sessions"})",
                                        setting.awaitedId);
    require(BidiAnswers::session(parsed(refused)).outcome == SessionOutcome::Refused,
            "a browser that has a session refuses another");
    checkOtherAnswers(refused, setting.awaitedId);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 3);
    const Setting setting(parts[2]);
    checkRawMessage(QString::fromUtf8(parts[0]), setting);
    // A socket hands over text that it decoded itself, lone halves of characters included.
    QString units(parts[0].size() / 2, Qt::Uninitialized);
    std::memcpy(units.data(), parts[0].constData(), static_cast<size_t>(units.size()) * 2);
    checkRawMessage(units, setting);
    checkWrittenTree(parts[1], setting);
    checkWrittenTitles(parts[1], setting);
    checkWrittenSession(setting);
    return 0;
}
