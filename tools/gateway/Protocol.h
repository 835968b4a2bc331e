// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>

// Pure formatting and parsing for the chat line protocol. Names and texts are
// raw bytes (Windows-1252 or UTF-8) and pass through untouched.
namespace Protocol {

inline constexpr QByteArrayView kOperatorFlags = "0002";
inline constexpr QByteArrayView kUserFlags = "0010";
inline constexpr qsizetype kMaxNameLength = 64;
inline constexpr qsizetype kMaxChannelNameLength = 64;

// Server event lines, each terminated by "\r\n".
QByteArray userLine(QByteArrayView name, QByteArrayView flags);   // 1001 USER
QByteArray joinLine(QByteArrayView name, QByteArrayView flags);   // 1002 JOIN
QByteArray leaveLine(QByteArrayView name, QByteArrayView flags);  // 1003 LEAVE
QByteArray whisperLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text); // 1004
QByteArray talkLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text);    // 1005
QByteArray emoteLine(QByteArrayView name, QByteArrayView flags, QByteArrayView text);   // 1023
QByteArray channelLine(QByteArrayView channel);                   // 1007 CHANNEL
QByteArray infoLine(QByteArrayView text);                         // 1018 INFO
QByteArray errorLine(QByteArrayView text);                        // 1019 ERROR

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
