// SPDX-License-Identifier: MIT
// Arbitrary bytes from a server, cut into arbitrary arrivals, through the
// main window's framing, dispatch and every event handler.
#include "session/ChatLink.h"
#include "ui/TorvalMain.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTextDocument>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

namespace {

TorvalMain *g_window = nullptr;
QPlainTextEdit *g_chat = nullptr;
QPlainTextEdit *g_whispers = nullptr;
QListWidget *g_roomlist = nullptr;

// Long runs would otherwise fill the panes to their line limit with long
// lines and spend the fuzzer's memory there.
constexpr int kPaneCharactersBeforeClearing = 2'000'000;

bool paneIsFull(const QPlainTextEdit *pane)
{
    return pane->document()->characterCount() > kPaneCharactersBeforeClearing;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_reception";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    g_window = new TorvalMain;
    g_chat = g_window->findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    g_whispers = g_window->findChild<QPlainTextEdit *>(QStringLiteral("Text3"));
    g_roomlist = g_window->findChild<QListWidget *>(QStringLiteral("Roomlist"));
    if (!g_chat || !g_whispers || !g_roomlist)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    while (input.remaining_bytes() > 0) {
        const size_t length = input.ConsumeIntegralInRange<size_t>(0, input.remaining_bytes());
        const std::string arrival = input.ConsumeBytesAsString(length);
        g_window->link()->feedBytesForTesting(QByteArrayView(arrival.data(), qsizetype(arrival.size())));
    }
    // Ends any unfinished line, so that each input starts from a clean framer.
    g_window->link()->feedBytesForTesting("\n");
    QCoreApplication::processEvents();

    if (paneIsFull(g_chat) || paneIsFull(g_whispers)) {
        g_chat->clear();
        g_whispers->clear();
        g_roomlist->clear();
    }
    return 0;
}
