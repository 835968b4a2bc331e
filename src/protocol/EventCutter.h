// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/EventCodes.h"

#include <QString>
#include <QStringView>

#include <optional>

// Taking the gateway's event lines apart. Every function gets the line as the
// handlers do: from the first character of the event code through one final
// carriage return. Positions are 1-based and count characters, a character
// outside the BMP being one; L is the line's length, its carriage return
// included.

// Where the user name starts in each kind of user event line: just after the head.
inline constexpr int kUserNameStart = 11;    // "1001" and "1002"
inline constexpr int kLeaveNameStart = 12;   // "1003"
inline constexpr int kWhisperNameStart = 14; // "1004"
inline constexpr int kTalkNameStart = 11;    // "1005"
inline constexpr int kEmoteNameStart = 12;   // "1023"
// Where a channel line's name starts, after the head and the opening quote.
inline constexpr int kChannelNameStart = 15;

static_assert(kUserNameStart == EventCode::User.head.size() + 1 && kUserNameStart == EventCode::Join.head.size() + 1
              && kLeaveNameStart == EventCode::Leave.head.size() + 1
              && kWhisperNameStart == EventCode::Whisper.head.size() + 1
              && kTalkNameStart == EventCode::Talk.head.size() + 1 && kEmoteNameStart == EventCode::Emote.head.size() + 1
              && kChannelNameStart == EventCode::Channel.head.size() + 2);

// The position P of the flags field: the first P after nameStart such that
// the character before P is a space, the four from P are hexadecimal digits
// and the one after them is a space or the final carriage return. 0 when the
// line has none.
int FindFlagsPos(QStringView line, int nameStart);

struct MessageFields {
    QString name; // characters nameStart to P-2
    QString text; // characters P+6 to L-2
};

// Talk, whisper and emote lines; nothing when the flags field is missing or
// the line is too short to hold its text.
std::optional<MessageFields> cutMessage(QStringView line, int nameStart);
// The text of an information line: from its first double quote to its last,
// both excluded; empty when the line has fewer than two.
QString cutInfoText(QStringView line);
// A user or join line's list entry: characters 11 to P-1, the name and the
// space after it.
std::optional<QString> cutRosterEntry(QStringView line);
// A leave line's key: characters 11 to P-1 with spaces trimmed from both ends.
std::optional<QString> cutLeaveKey(QStringView line);
// A channel line's channel name, characters 15 to L-2; nothing when L < 16.
std::optional<QString> cutChannelName(QStringView line);

// Only the space character, not other white space, as the roster compares entries.
QStringView trimSpaces(QStringView text);
