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
    qint64 awaitedId = 1;
    qsizetype limit = BidiAnswers::maxTabs;
    qint64 processId = 4242;
};

Setting settingOf(const QByteArray &text)
{
    Setting setting;
    const QList<QByteArray> words = text.split(' ');
    bool ok = false;
    // Our ids count up from 1, and no connection lasts for billions of commands.
    if (const qint64 id = words.value(0).toLongLong(&ok); ok && id > 0 && id < (1LL << 31))
        setting.awaitedId = id;
    if (const qint64 limit = words.value(1).toLongLong(&ok); ok)
        setting.limit = qBound<qsizetype>(0, limit, BidiAnswers::maxTabs);
    if (const qint64 pid = words.value(2).toLongLong(&ok); ok && pid > 0 && pid < (1LL << 53))
        setting.processId = pid;
    return setting;
}

std::optional<BidiAnswers::Message> parsed(const QJsonObject &message)
{
    return BidiAnswers::parse(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
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
    if (all) {
        require(all->size() <= BidiAnswers::maxTabs && some->size() <= setting.limit,
                "no more tabs than the cap");
        require(some->size() == qMin(all->size(), setting.limit), "a cap keeps as many tabs");
        for (qsizetype i = 0; i < all->size(); ++i) {
            const BrowserPage &page = (*all)[i];
            require(!page.handle.id.isEmpty(), "every tab has an id");
            require(!page.pageName, "a tab has no title before it is read");
            require(!page.address || page.address->size() <= TabSnapshot::maxTextLength,
                    "a tab's address is capped");
            require(i >= some->size() || (*some)[i].handle == page.handle,
                    "a cap keeps the first tabs");
        }
    }
    const std::optional<QString> title = BidiAnswers::evaluatedText(*message);
    require(!title || (message->success && title->size() <= TabSnapshot::maxTextLength),
            "a title comes from a success and is capped");
}

// The same answer with any other id, or none, is not the awaited one.
void checkOtherAnswers(const QJsonObject &answer, qint64 awaitedId)
{
    for (const QJsonValue &id :
         {QJsonValue(awaitedId + 1), QJsonValue(awaitedId - 1), QJsonValue(awaitedId + 0.5),
          QJsonValue(QString::number(awaitedId)), QJsonValue(-awaitedId), QJsonValue()}) {
        QJsonObject other = answer;
        if (id.isNull())
            other.remove(u"id"_qs);
        else
            other.insert(u"id"_qs, id);
        const std::optional<BidiAnswers::Message> message = parsed(other);
        require(message && !BidiAnswers::answers(*message, awaitedId),
                "an answer to another command is not the awaited one");
    }
}

// Top-level contexts written one a line, their members cut at tabs: context, address, and
// the context of a frame inside it, which is no tab.
void checkWrittenTree(const QByteArray &spec, const Setting &setting)
{
    QJsonArray contexts;
    QList<QByteArray> expectedIds;
    QList<std::optional<QJsonValue>> expectedAddresses;
    FuzzJson::Writer writer;
    for (const QByteArray &line : spec.split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        const std::optional<QJsonValue> id = writer.field(fields, 0);
        const std::optional<QJsonValue> address = writer.field(fields, 1);
        const std::optional<QJsonValue> frame = writer.field(fields, 2);
        QJsonObject context{{u"userContext"_qs, u"default"_qs},
                            {u"parent"_qs, QJsonValue::Null},
                            {u"originalOpener"_qs, QJsonValue::Null},
                            {u"clientWindow"_qs, u"6b7c1d35-2c1a-4d47-9f4e-1c0e5a0b6c11"_qs}};
        if (id)
            context.insert(u"context"_qs, *id);
        if (address)
            context.insert(u"url"_qs, *address);
        QJsonArray children;
        if (frame)
            children.append(QJsonObject{{u"context"_qs, *frame}, {u"url"_qs, u"about:blank"_qs}});
        context.insert(u"children"_qs, children);
        contexts.append(context);
        if (id && id->isString() && !id->toString().isEmpty() &&
            expectedIds.size() < setting.limit) {
            expectedIds.append(id->toString().toUtf8());
            expectedAddresses.append(address);
        }
    }
    const QJsonObject answer{{u"type"_qs, u"success"_qs},
                             {u"id"_qs, setting.awaitedId},
                             {u"result"_qs, QJsonObject{{u"contexts"_qs, contexts}}}};
    const std::optional<BidiAnswers::Message> message = parsed(answer);
    require(message && BidiAnswers::answers(*message, setting.awaitedId),
            "an answer with the awaited id is the awaited one");
    const auto pages = BidiAnswers::contexts(*message, setting.limit);
    require(pages && pages->size() == expectedIds.size(),
            "a written tree gives each of its top-level contexts once, up to the cap");
    for (qsizetype i = 0; i < expectedIds.size(); ++i) {
        require((*pages)[i].handle == WindowHandle{0, expectedIds[i]},
                "a written context reads back in order");
        FuzzJson::requireTextOf((*pages)[i].address, expectedAddresses[i]);
    }

    const QJsonObject failure{{u"type"_qs, u"error"_qs},
                              {u"id"_qs, setting.awaitedId},
                              {u"error"_qs, u"invalid argument"_qs},
                              {u"message"_qs, u"Expected \"maxDepth\" to be a number"_qs}};
    require(!BidiAnswers::contexts(*parsed(failure)), "a failed command gives no contexts");
}

// The titles that script.evaluate gives for the first texts written, one answer each, and what
// a throwing or non-string result gives.
void checkWrittenTitles(const QByteArray &spec, const Setting &setting)
{
    constexpr qsizetype titles = 8;
    FuzzJson::Writer writer;
    for (const QByteArray &line : spec.split('\n').mid(0, titles)) {
        const QJsonValue value = writer.valueOf(line);
        const QJsonObject result{{u"type"_qs, value.isString() ? u"string"_qs : u"number"_qs},
                                 {u"value"_qs, value}};
        QJsonObject evaluation{{u"type"_qs, u"success"_qs},
                               {u"realm"_qs, u"6b2f0b5e-8d1c-4e59-a1f7-2f7d9e3b1c22"_qs},
                               {u"result"_qs, result}};
        QJsonObject answer{
            {u"type"_qs, u"success"_qs}, {u"id"_qs, setting.awaitedId}, {u"result"_qs, evaluation}};
        FuzzJson::requireTextOf(BidiAnswers::evaluatedText(*parsed(answer)), value);

        evaluation.insert(u"type"_qs, u"exception"_qs);
        evaluation.insert(u"exceptionDetails"_qs,
                          QJsonObject{{u"text"_qs, u"TypeError: document is null"_qs}});
        answer.insert(u"result"_qs, evaluation);
        require(!BidiAnswers::evaluatedText(*parsed(answer)), "a script that threw gives nothing");
    }
}

void checkWrittenSession(const Setting &setting)
{
    const QJsonObject capabilities{{u"browserName"_qs, u"firefox"_qs},
                                   {u"moz:processID"_qs, setting.processId}};
    const QJsonObject accepted{
        {u"type"_qs, u"success"_qs},
        {u"id"_qs, setting.awaitedId},
        {u"result"_qs, QJsonObject{{u"sessionId"_qs, u"4c3c6e0a-5b2d-4f1e-9a8b-7d6c5e4f3a21"_qs},
                                   {u"capabilities"_qs, capabilities}}}};
    const BidiAnswers::Session session = BidiAnswers::session(*parsed(accepted));
    require(session.outcome == SessionOutcome::Accepted && session.processId == setting.processId,
            "an accepted session names its process");
    checkOtherAnswers(accepted, setting.awaitedId);

    // Capabilities that name no process leave nothing to check the port file's process against.
    QJsonObject anonymous = accepted;
    anonymous.insert(u"result"_qs, QJsonObject{{u"capabilities"_qs,
                                                QJsonObject{{u"browserName"_qs, u"chrome"_qs}}}});
    const BidiAnswers::Session other = BidiAnswers::session(*parsed(anonymous));
    require(other.outcome == SessionOutcome::Accepted && !other.processId,
            "a session that names no process has none");

    const QJsonObject refused{{u"type"_qs, u"error"_qs},
                              {u"id"_qs, setting.awaitedId},
                              {u"error"_qs, u"session not created"_qs},
                              {u"message"_qs, u"Maximum number of active sessions"_qs}};
    require(BidiAnswers::session(*parsed(refused)).outcome == SessionOutcome::Refused,
            "a browser that has a session refuses another");
    checkOtherAnswers(refused, setting.awaitedId);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = FuzzInput::parts(data, size, 3);
    const Setting setting = settingOf(parts[2]);
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
