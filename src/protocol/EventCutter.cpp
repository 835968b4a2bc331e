// SPDX-License-Identifier: MIT
#include "protocol/EventCutter.h"

#include "protocol/ChatEvent.h"

#include <algorithm>

namespace {

constexpr int kRosterCutStart = 11; // every user code is cut from here; for "1003" it is the space before the name

// UTF-16 units of the character at index i: 2 for a surrogate pair, else 1.
qsizetype charWidth(QStringView s, qsizetype i)
{
    return i + 1 < s.size() && s[i].isHighSurrogate() && s[i + 1].isLowSurrogate() ? 2 : 1;
}

// Index of the character before index i.
qsizetype previousIndex(QStringView s, qsizetype i)
{
    return i >= 2 && s[i - 1].isLowSurrogate() && s[i - 2].isHighSurrogate() ? i - 2 : i - 1;
}

// Index of the character at position pos; s.size() when the line is shorter.
qsizetype indexOfPosition(QStringView s, qsizetype pos)
{
    qsizetype i = 0;
    for (qsizetype p = 1; p < pos && i < s.size(); ++p)
        i += charWidth(s, i);
    return std::min(i, s.size());
}

// Index of the character at position L-1, so that "characters a to L-2" ends
// just before it; -1 when the line has no such character.
qsizetype secondLastIndex(QStringView s)
{
    if (s.isEmpty())
        return -1;
    const qsizetype last = previousIndex(s, s.size());
    return last > 0 ? previousIndex(s, last) : -1;
}

int positionOfIndex(QStringView s, qsizetype index)
{
    int pos = 1;
    for (qsizetype i = 0; i < index; i += charWidth(s, i))
        ++pos;
    return pos;
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// Index of the flags field, or -1; see FindFlagsPos.
qsizetype flagsIndex(QStringView line, int nameStart)
{
    const qsizetype n = line.size();
    // The space before P stands at N or later, and P+4 must exist.
    for (qsizetype space = line.indexOf(u' ', indexOfPosition(line, nameStart)); space >= 0 && space + 6 <= n;
         space = line.indexOf(u' ', space + 1)) {
        const qsizetype p = space + 1;
        if (!isHexDigit(line[p]) || !isHexDigit(line[p + 1]) || !isHexDigit(line[p + 2]) || !isHexDigit(line[p + 3]))
            continue;
        const QChar after = line[p + 4];
        if (after == u' ' || (after == u'\r' && p + 4 == n - 1))
            return p;
    }
    return -1;
}

} // namespace

int FindFlagsPos(QStringView line, int nameStart)
{
    const qsizetype p = flagsIndex(line, nameStart);
    return p < 0 ? 0 : positionOfIndex(line, p);
}

namespace {

// Index of the flags field found by FindFlagsPos, or -1.
qsizetype flagsFieldIndex(QStringView line, int nameStart)
{
    const int P = FindFlagsPos(line, nameStart);
    return P == 0 ? -1 : indexOfPosition(line, P);
}

} // namespace

std::optional<MessageFields> cutMessage(QStringView line, int nameStart)
{
    const qsizetype p = flagsFieldIndex(line, nameStart);
    if (p < 0)
        return std::nullopt;
    const qsizetype nameFrom = indexOfPosition(line, nameStart);
    // P+5 is the opening quote, never examined; it may be any character.
    const qsizetype quote = p + 5;
    if (quote >= line.size())
        return std::nullopt;
    const qsizetype textFrom = quote + charWidth(line, quote);
    const qsizetype textEnd = secondLastIndex(line);
    if (textEnd < textFrom)
        return std::nullopt;
    return MessageFields{line.sliced(nameFrom, p - 1 - nameFrom).toString(),
                         line.sliced(textFrom, textEnd - textFrom).toString()};
}

QString cutInfoText(QStringView line)
{
    const qsizetype first = line.indexOf(u'"');
    const qsizetype last = line.lastIndexOf(u'"');
    if (first < 0 || last == first)
        return {};
    return line.sliced(first + 1, last - first - 1).toString();
}

namespace {

std::optional<QStringView> rosterCut(QStringView line, int nameStart)
{
    const qsizetype p = flagsFieldIndex(line, nameStart);
    if (p < 0)
        return std::nullopt;
    const qsizetype from = indexOfPosition(line, kRosterCutStart);
    return line.sliced(from, p - from);
}

} // namespace

std::optional<QString> cutRosterEntry(QStringView line)
{
    if (const auto cut = rosterCut(line, kUserNameStart))
        return cut->toString();
    return std::nullopt;
}

std::optional<QString> cutLeaveKey(QStringView line)
{
    if (const auto cut = rosterCut(line, kLeaveNameStart))
        return trimSpaces(*cut).toString();
    return std::nullopt;
}

std::optional<QString> cutChannelName(QStringView line)
{
    const qsizetype from = indexOfPosition(line, kChannelNameStart);
    const qsizetype end = secondLastIndex(line);
    if (end < from)
        return std::nullopt;
    return line.sliced(from, end - from).toString();
}

QStringView trimSpaces(QStringView text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == u' ')
        ++from;
    while (to > from && text[to - 1] == u' ')
        --to;
    return text.sliced(from, to - from);
}

namespace {

using Kind = ChatEvent::Kind;

// A message line that cannot be cut is shown as it came, minus its carriage return.
ChatEvent message(const QString &line, Kind kind, int nameStart)
{
    if (std::optional<MessageFields> fields = cutMessage(line, nameStart))
        return {kind, std::move(fields->name), std::move(fields->text)};
    return {Kind::Unparseable, {}, line.endsWith(u'\r') ? line.chopped(1) : line, kind};
}

std::optional<ChatEvent> rosterEvent(std::optional<QString> cut, Kind kind)
{
    if (!cut)
        return std::nullopt;
    return ChatEvent{kind, std::move(*cut), {}};
}

} // namespace

std::optional<ChatEvent> cutEvent(const QString &line)
{
    using Cutter = std::optional<ChatEvent> (*)(const QString &);
    using EventCode::latin1;
    struct Entry {
        QLatin1String code;
        Cutter cut; // none: the code is known and needs nothing done
    };
    static constexpr Entry kEvents[] = {
        {latin1(EventCode::User.code), [](const QString &l) { return rosterEvent(cutRosterEntry(l), Kind::UserPresent); }},
        {latin1(EventCode::Join.code), [](const QString &l) { return rosterEvent(cutRosterEntry(l), Kind::UserJoined); }},
        {latin1(EventCode::Leave.code), [](const QString &l) { return rosterEvent(cutLeaveKey(l), Kind::UserLeft); }},
        {latin1(EventCode::Whisper.code),
         [](const QString &l) { return std::optional(message(l, Kind::Whisper, kWhisperNameStart)); }},
        {latin1(EventCode::Talk.code), [](const QString &l) { return std::optional(message(l, Kind::Talk, kTalkNameStart)); }},
        {latin1(EventCode::Channel.code), [](const QString &l) { return rosterEvent(cutChannelName(l), Kind::Channel); }},
        {latin1(EventCode::Info.code), [](const QString &l) { return std::optional(ChatEvent{Kind::Info, {}, cutInfoText(l)}); }},
        {latin1(EventCode::Emote.code),
         [](const QString &l) { return std::optional(message(l, Kind::Emote, kEmoteNameStart)); }},
        {latin1(EventCode::Error.code), nullptr},
        {latin1(EventCode::NoAction2000), nullptr},
        {latin1(EventCode::NoAction2010), nullptr},
    };
    const QStringView code = QStringView(line).left(4);
    for (const Entry &entry : kEvents) {
        if (code == entry.code)
            return entry.cut ? entry.cut(line) : std::nullopt;
    }
    return std::nullopt;
}
