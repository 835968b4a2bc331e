// SPDX-License-Identifier: MIT
#include "outgoing/TypedLine.h"

#include "outgoing/CommandLines.h"

namespace {
constexpr char kClearCommand[] = "/clear";
constexpr char kReverseCommand[] = "/reverse";
constexpr char kQuitCommand[] = "/quit";
constexpr char kJoinCommand[] = "/join";
constexpr char kShortJoinCommand[] = "/j";
constexpr char kCommandMark[] = "/";
constexpr const char *kWhisperCommands[] = {kWhisperCommand, "/w ", "/msg ", "/m "};

bool startsWith(const QString &text, const char *prefix)
{
    return text.startsWith(QLatin1String(prefix), Qt::CaseSensitive);
}

// The text after the command word and the one character that follows it,
// whatever that character is; untrimmed.
QString argumentAfter(const QString &typed, const char *command)
{
    return typed.mid(qsizetype(qstrlen(command)) + 1);
}
} // namespace

TypedLine interpretTypedLine(const QString &typed)
{
    using Action = TypedLine::Action;
    if (startsWith(typed, kClearCommand))
        return {Action::Clear, {}};
    if (startsWith(typed, kReverseCommand))
        return {Action::Reverse, reversedText(argumentAfter(typed, kReverseCommand))};
    if (startsWith(typed, kQuitCommand))
        return {Action::Quit, {}};
    if (startsWith(typed, kJoinCommand))
        return {Action::Join, channelLine(argumentAfter(typed, kJoinCommand))};
    if (startsWith(typed, kShortJoinCommand))
        return {Action::Join, channelLine(argumentAfter(typed, kShortJoinCommand))};
    if (startsWith(typed, kCommandMark))
        return {Action::Command, typed};
    return {Action::Chat, typed};
}

QString reversedText(const QString &text)
{
    QString reversed;
    reversed.reserve(text.size());
    for (qsizetype end = text.size(); end > 0;) {
        const bool pair = end >= 2 && text.at(end - 1).isLowSurrogate()
            && text.at(end - 2).isHighSurrogate();
        const qsizetype length = pair ? 2 : 1;
        end -= length;
        reversed += QStringView(text).mid(end, length);
    }
    return reversed;
}

std::optional<QString> typedWhisperEcho(const QString &typed)
{
    for (const char *command : kWhisperCommands) {
        if (!startsWith(typed, command))
            continue;
        const qsizetype nameStart = qsizetype(qstrlen(command));
        const qsizetype nameEnd = typed.indexOf(QLatin1Char(' '), nameStart);
        if (nameEnd <= nameStart)
            return std::nullopt;
        return whisperEcho(typed.mid(nameStart, nameEnd - nameStart), typed.mid(nameEnd + 1));
    }
    return std::nullopt;
}
