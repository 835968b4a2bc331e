// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QLatin1String>

#include <string_view>

// The event-code table of the chat protocol. Every server line starts with a
// four-digit code. The gateway writes the code, a space, a keyword and a
// space (the head) before the fields; the client never reads the keyword but
// cuts the fields at fixed positions, which these heads fix (EventCutter.h).
namespace EventCode {

struct Event
{
    std::string_view code;
    std::string_view head;
};

inline constexpr Event User{"1001", "1001 USER "};       // name, flags: someone already in the channel
inline constexpr Event Join{"1002", "1002 JOIN "};       // name, flags: someone came in
inline constexpr Event Leave{"1003", "1003 LEAVE "};     // name, flags: someone left
inline constexpr Event Whisper{"1004", "1004 WHISPER "}; // name, flags, quoted text
inline constexpr Event Talk{"1005", "1005 TALK "};       // name, flags, quoted text
inline constexpr Event Channel{"1007", "1007 CHANNEL "}; // quoted channel name: the user is now there
inline constexpr Event Info{"1018", "1018 INFO "};       // quoted text from the server
inline constexpr Event Error{"1019", "1019 ERROR "};     // quoted text; the client shows nothing
inline constexpr Event Emote{"1023", "1023 EMOTE "};     // name, flags, quoted text
// Codes the client knows and takes no action on.
inline constexpr std::string_view NoAction2000 = "2000";
inline constexpr std::string_view NoAction2010 = "2010";

static_assert(User.head.starts_with(User.code) && Join.head.starts_with(Join.code)
              && Leave.head.starts_with(Leave.code) && Whisper.head.starts_with(Whisper.code)
              && Talk.head.starts_with(Talk.code) && Channel.head.starts_with(Channel.code)
              && Info.head.starts_with(Info.code) && Error.head.starts_with(Error.code)
              && Emote.head.starts_with(Emote.code));

constexpr QByteArrayView bytes(std::string_view s)
{
    return QByteArrayView(s.data(), qsizetype(s.size()));
}

constexpr QLatin1String latin1(std::string_view s)
{
    return QLatin1String(s.data(), qsizetype(s.size()));
}

} // namespace EventCode

// The flags field of user lines, four digits.
namespace EventFlags {
inline constexpr QByteArrayView Operator = "0002";
inline constexpr QByteArrayView User = "0010";
} // namespace EventFlags
