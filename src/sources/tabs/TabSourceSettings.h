#pragma once

#include "sources/ProcessIds.h"

#include <QString>

#include <memory>
#include <optional>

// Where a tab-level backend looks for browsers and how often it talks to them. The defaults
// are the program's; tests shorten the intervals and point procRoot at a folder of their own.
struct TabSourceSettings
{
    QString procRoot = QStringLiteral("/proc");
    // The census of processes that the program's lookers share; each source makes its own of
    // procRoot when there is none.
    std::shared_ptr<ProcessIds> processIds;
    // The user whose browsers count; nothing means the user running this program.
    std::optional<uint> userId;
    // How often /proc is looked through for browsers that came or went.
    int discoveryIntervalMs = 2000;
    // Someone else looks through the census every few seconds, such as the program's watch for
    // browsers it cannot see. Discovery then runs when a look finds new processes, and on its
    // own only while some process may yet prove to be a browser, or is one: an idle desktop
    // does not wake the backend's thread.
    bool censusLookedElsewhere = false;
    // The pause between the end of one reading of a browser's tabs and the start of the next.
    // With the tick's 500 ms it keeps a new title within a second of its closing.
    int refreshIntervalMs = 150;
    // A browser that tells of its tabs as they change is read whole this often all the same:
    // the reading shows that it still answers, and catches what it did not tell.
    int resyncIntervalMs = 2000;
    // A browser that leaves a request unanswered this long has stopped answering.
    int requestTimeoutMs = 2000;
    // Firefox answers session.new only once it has finished starting, which takes seconds on
    // a busy machine. Giving up sooner would only begin the wait again.
    int sessionTimeoutMs = 60000;
    // No answer of a browser is read beyond this many bytes.
    qint64 maxAnswerBytes = 32 * 1024 * 1024;
};
