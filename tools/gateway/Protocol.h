// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include "protocol/EventBuilder.h"
#include "protocol/EventCodes.h"

#include <optional>

// The gateway's side of the chat line protocol: commands, names, accounts.
// Names and texts are raw bytes (Windows-1252 or UTF-8) and pass through untouched.
namespace Protocol {

inline constexpr QByteArrayView kOperatorFlags = EventFlags::Operator;
inline constexpr QByteArrayView kUserFlags = EventFlags::User;
inline constexpr qsizetype kMaxNameLength = 64;
inline constexpr qsizetype kMaxChannelNameLength = 64;

struct Command
{
    enum class Kind {
        None, // empty line
        Talk,
        Emote,
        Whisper,
        Join,
        Whois,
        Kick,
        Ban,
        Squelch,
        Unsquelch,
        Unknown,
    };

    Kind kind = Kind::None;
    QByteArray target; // user name, or the channel name for Join
    QByteArray text;   // talk/emote/whisper text, or the kick/ban reason
};

// Splits one client line. After the command word (and after a whisper, kick or
// ban target) exactly one run of spaces is skipped; the rest is kept as-is.
Command parseCommand(QByteArrayView line);

bool isAnonymousName(QByteArrayView name);

// Why a login name is unusable, or an empty string when it is fine. Names are
// printable ASCII without space or double quote: what every client can show
// and type, and nothing that looks like another name (Cyrillic letters,
// direction overrides).
QByteArray nameProblem(QByteArrayView name);

// Case-insensitive (ASCII) key for user and channel names.
QByteArray foldCase(QByteArrayView name);

// Parses "name:password" lines; blank lines and lines starting with '#' are
// skipped. Returns nullopt and sets *error on a malformed line.
std::optional<QHash<QByteArray, QByteArray>> parseAccounts(QByteArrayView content,
                                                           QString *error = nullptr);

} // namespace Protocol
