// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

inline constexpr char kWhisperCommand[] = "/whisper ";
inline constexpr char kChannelCommand[] = "/channel ";

// The channel change sent by the channel picker and the join shortcuts.
QString channelLine(const QString &channel);

// The command lines of the roster buttons. entry is the user list's entry as
// the list holds it (the name and one trailing space), or "" when none is
// selected; typed is the input line's text. Nothing is trimmed or inserted,
// so a ban line has one space between name and text and a whisper line two.

QString banLine(const QString &entry, const QString &typed);
QString kickLine(const QString &entry);
QString slapLine(const QString &entry);
QString squelchLine(const QString &entry);
QString unsquelchLine(const QString &entry);
QString whisperLine(const QString &entry, const QString &typed);
QString whoisLine(const QString &entry);

// The whisper pane's record of an outgoing whisper: "<TO: " + name + "> " + text.
QString whisperEcho(const QString &name, const QString &text);
