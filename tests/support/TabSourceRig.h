#pragma once

#include "sources/tabs/TabSource.h"
#include "support/FakeProcTree.h"

#include <memory>

// A tab source and one fake browser that it finds in a /proc of its own, looked through and read
// often so that a test waits tenths of a second. The browser's process is started from a
// FakeProcTree line in which "$P" stands for the browser's port, and holds that port.
template <typename Browser, typename Source>
struct TabSourceRig
{
    template <typename... SourceArguments>
    explicit TabSourceRig(const QByteArray &process, SourceArguments &&...arguments)
    {
        const QByteArray port = QByteArray::number(browser.port());
        const QByteArray pid = process.left(process.indexOf(' '));
        proc.apply(QByteArray(process).replace("$P", port));
        proc.apply("listen " + port + ' ' + pid);
        if constexpr (requires { browser.processId; })
            browser.processId = pid.toLongLong();
        TabSourceSettings settings;
        settings.procRoot = proc.root();
        settings.userId = FakeProcTree::userId;
        settings.discoveryIntervalMs = 100;
        settings.refreshIntervalMs = 20;
        settings.resyncIntervalMs = 100;
        settings.requestTimeoutMs = 1000;
        settings.sessionTimeoutMs = 1000;
        settings.maxAnswerBytes = 256 * 1024;
        source = std::make_unique<Source>(std::forward<SourceArguments>(arguments)..., settings);
    }

    // The names of the pages listed now, "?" for a title not read.
    QStringList names() const
    {
        QStringList names;
        for (const BrowserPage &page : source->walk())
            names.append(page.pageName.value_or(u"?"_qs));
        return names;
    }

    FakeProcTree proc;
    Browser browser;
    std::unique_ptr<Source> source;
};
