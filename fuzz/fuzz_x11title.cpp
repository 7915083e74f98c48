// Window titles as X11 properties carry them: bytes that whoever made the page chose, in any of
// the encodings a window may declare, cut anywhere and as long as they like.
#include "FuzzInput.h"

#include "sources/BrowserCatalogue.h"
#include "sources/x11/X11TitleText.h"

using FuzzInput::require;
using X11TitleText::Encoding;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzInput::bytes(data, size);
    for (const Encoding encoding :
         {Encoding::Utf8, Encoding::Latin1, Encoding::CompoundText, Encoding::Unknown}) {
        const QString text = X11TitleText::decode(bytes, encoding);
        require(text.size() <= kMaxTextLength, "a decoded title is capped");
        require(!text.contains(QChar(0)), "a decoded title stops at the first NUL");
        require(text.isValidUtf16(), "a decoded title has no half character");

        const QString page = X11TitleText::pageNameFromTitle(text);
        require(page.size() <= text.size() && text.contains(page),
                "the page's name is part of the window's title");
    }

    // After a separator, a catalogue browser's name ends the page's title; alone, it is a blank
    // tab. Only the browsers that name their private windows have that said after it.
    const QString page = X11TitleText::decode(bytes.left(256), Encoding::Utf8);
    const QString separators[] = {u" - "_qs, u" — "_qs, u" – "_qs};
    int next = 0;
    for (const KnownBrowser &browser : BrowserCatalogue::browsers()) {
        for (const QString &name : browser.titles) {
            const QString title = page + separators[next % 3] + name;
            const QString privateTitle =
                title + (next++ % 2 ? u" Private Browsing"_qs : u" (Private Browsing)"_qs);
            require(X11TitleText::pageNameFromTitle(title) == page,
                    "the browser's name after a separator is taken off");
            require(X11TitleText::pageNameFromTitle(privateTitle) ==
                        (browser.privateTitles ? page : privateTitle),
                    "a private window's name is taken off for the browsers that have one");
            require(X11TitleText::pageNameFromTitle(name).isEmpty(),
                    "the browser's name alone is a blank tab");
        }
    }

    // Text that fits the declared encoding, up to the first NUL, decodes to itself.
    const QByteArray text = bytes.split('\0').value(0);
    if (text.size() < kMaxTextLength) {
        const QString latin1 = QString::fromLatin1(text);
        require(X11TitleText::decode(text, Encoding::Latin1) == latin1, "Latin-1 decodes as is");
        const QString utf8 = QString::fromUtf8(text);
        if (utf8.toUtf8() == text) {
            require(X11TitleText::decode(text, Encoding::Utf8) == utf8, "UTF-8 decodes as is");
            require(X11TitleText::decode(text, Encoding::Unknown) == utf8,
                    "valid UTF-8 of an unknown type decodes as UTF-8");
            require(text.contains('\x1b') || X11TitleText::decode("\x1b%G" + text + "\x1b%@",
                                                                  Encoding::CompoundText) == utf8,
                    "a UTF-8 segment of compound text decodes as UTF-8");
        } else {
            require(X11TitleText::decode(text, Encoding::Unknown) == latin1,
                    "other text of an unknown type decodes as Latin-1");
        }
    }
    return 0;
}
