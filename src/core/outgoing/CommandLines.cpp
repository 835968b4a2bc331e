// SPDX-License-Identifier: MIT
#include "outgoing/CommandLines.h"

namespace {
constexpr char kBanPrefix[] = "/ban ";
constexpr char kKickPrefix[] = "/kick ";
constexpr char kSlapPrefix[] = "/me slaps ";
constexpr char kSquelchPrefix[] = "/squelch ";
constexpr char kUnsquelchPrefix[] = "/unsquelch ";
constexpr char kWhoisPrefix[] = "/whois ";
constexpr char kWhisperEchoOpen[] = "<TO: ";
constexpr char kWhisperEchoClose[] = "> ";
} // namespace

QString channelLine(const QString &channel)
{
    return QLatin1String(kChannelCommand) + channel;
}

QString banLine(const QString &entry, const QString &typed)
{
    return QLatin1String(kBanPrefix) + entry + typed;
}

QString kickLine(const QString &entry)
{
    return QLatin1String(kKickPrefix) + entry;
}

QString slapLine(const QString &entry)
{
    return QLatin1String(kSlapPrefix) + entry;
}

QString squelchLine(const QString &entry)
{
    return QLatin1String(kSquelchPrefix) + entry;
}

QString unsquelchLine(const QString &entry)
{
    return QLatin1String(kUnsquelchPrefix) + entry;
}

QString whisperLine(const QString &entry, const QString &typed)
{
    return QLatin1String(kWhisperCommand) + entry + QLatin1Char(' ') + typed;
}

QString whoisLine(const QString &entry)
{
    return QLatin1String(kWhoisPrefix) + entry;
}

QString whisperEcho(const QString &name, const QString &text)
{
    return QLatin1String(kWhisperEchoOpen) + name + QLatin1String(kWhisperEchoClose) + text;
}
