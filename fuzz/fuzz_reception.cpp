// SPDX-License-Identifier: MIT
// Arbitrary bytes from a server, cut into arbitrary arrivals, through the
// main window's framing, dispatch and every event handler.
#include "FeedArrivals.h"
#include "session/ChatLink.h"
#include "ui/TorvalMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextDocument>

#include <cstdint>
#include <cstdlib>

namespace {

TorvalMain *g_window = nullptr;
QPlainTextEdit *g_chat = nullptr;
QPlainTextEdit *g_whispers = nullptr;

// Long runs would otherwise fill the panes to their line limit with long
// lines and spend the fuzzer's memory there. The user list bounds itself.
constexpr int kPaneCharactersBeforeClearing = 2'000'000;

bool paneIsFull(const QPlainTextEdit *pane)
{
    return pane->document()->characterCount() > kPaneCharactersBeforeClearing;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window's settings and chat log go to a folder of this run, never the user's own.
    static QTemporaryDir home(QDir::tempPath() + QStringLiteral("/fuzz_reception-XXXXXX"));
    if (!home.isValid())
        std::abort();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, QFile::encodeName(home.filePath(QLatin1String(name))));
    static int argc = 1;
    static char name[] = "fuzz_reception";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    g_window = new TorvalMain;
    g_chat = g_window->findChild<QPlainTextEdit *>(QStringLiteral("Text2"));
    g_whispers = g_window->findChild<QPlainTextEdit *>(QStringLiteral("Text3"));
    if (!g_chat || !g_whispers)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    feedArrivals(g_window->link(), data, size);
    QCoreApplication::processEvents();

    if (paneIsFull(g_chat) || paneIsFull(g_whispers)) {
        g_chat->clear();
        g_whispers->clear();
    }
    return 0;
}
