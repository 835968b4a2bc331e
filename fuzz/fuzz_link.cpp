// SPDX-License-Identifier: MIT
// Arbitrary bytes from a server, cut into arbitrary arrivals, through a link
// alone: framing, decoding and cutting into events, without a window, so far
// more inputs run per second than through the window target. Each event is
// applied to a roster as the window would.
#include "FeedArrivals.h"
#include "reception/Roster.h"
#include "session/ChatLink.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

namespace {

ChatLink *g_link = nullptr;
Roster g_roster;

void apply(const ChatEvents &events)
{
    for (const ChatEvent &event : events) {
        // A line ends at its line end: no event may carry one.
        if (event.text.contains(u'\r') || event.text.contains(u'\n') || event.name.contains(u'\n'))
            std::abort();
        switch (event.kind) {
        case ChatEvent::Kind::Channel: g_roster.clear(); break;
        case ChatEvent::Kind::UserPresent:
        case ChatEvent::Kind::UserJoined: g_roster.append(event.name); break;
        case ChatEvent::Kind::UserLeft: g_roster.removeFirst(event.name); break;
        default: break;
        }
        if (g_roster.count() > Roster::kMaxEntries)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_link";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    g_link = new ChatLink;
    QObject::connect(g_link, &ChatLink::eventsReceived, &apply);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    feedArrivals(g_link, data, size);
    return 0;
}
