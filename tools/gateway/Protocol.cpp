// SPDX-License-Identifier: MIT
#include "Protocol.h"

namespace Protocol {

namespace {

qsizetype skipSpaces(QByteArrayView s, qsizetype i)
{
    while (i < s.size() && s[i] == ' ')
        ++i;
    return i;
}

qsizetype findSpace(QByteArrayView s, qsizetype i)
{
    while (i < s.size() && s[i] != ' ')
        ++i;
    return i;
}

// First word of s (which starts at a non-space) and what follows the run of
// spaces after it.
std::pair<QByteArray, QByteArray> splitWord(QByteArrayView s)
{
    const qsizetype end = findSpace(s, 0);
    return {s.first(end).toByteArray(), s.sliced(skipSpaces(s, end)).toByteArray()};
}

QByteArray trimTrailingSpaces(QByteArrayView s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == ' ')
        --n;
    return s.first(n).toByteArray();
}

Command::Kind commandKind(QByteArrayView word)
{
    using K = Command::Kind;
    static const QHash<QByteArray, K> kinds = {
        {"me", K::Emote},         {"emote", K::Emote},         {"whisper", K::Whisper},
        {"w", K::Whisper},        {"msg", K::Whisper},         {"m", K::Whisper},
        {"channel", K::Join},     {"join", K::Join},           {"whois", K::Whois},
        {"kick", K::Kick},        {"ban", K::Ban},             {"squelch", K::Squelch},
        {"unsquelch", K::Unsquelch},
    };
    return kinds.value(foldCase(word), K::Unknown);
}

} // namespace

Command parseCommand(QByteArrayView line)
{
    using K = Command::Kind;
    Command command;
    if (line.isEmpty())
        return command;
    if (line.front() != '/') {
        command.kind = K::Talk;
        command.text = line.toByteArray();
        return command;
    }

    const qsizetype wordEnd = findSpace(line, 1);
    const QByteArrayView args = line.sliced(skipSpaces(line, wordEnd));
    command.kind = commandKind(line.sliced(1, wordEnd - 1));
    switch (command.kind) {
    case K::Emote:
        command.text = args.toByteArray();
        break;
    case K::Whisper:
    case K::Kick:
    case K::Ban:
        std::tie(command.target, command.text) = splitWord(args);
        break;
    case K::Join:
        command.target = trimTrailingSpaces(args);
        break;
    case K::Whois:
    case K::Squelch:
    case K::Unsquelch:
        command.target = splitWord(args).first;
        break;
    case K::None:
    case K::Talk:
    case K::Unknown:
        break;
    }
    return command;
}

bool isAnonymousName(QByteArrayView name)
{
    return name == "Anonymous" || name == "anonymous" || name == "Guest" || name == "guest";
}

QByteArray nameProblem(QByteArrayView name)
{
    if (name.isEmpty())
        return "Please enter a user name.";
    if (name.size() > kMaxNameLength)
        return "That user name is too long.";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return "User names cannot contain spaces or control characters.";
        if (byte > 0x7F)
            return "User names can only use plain ASCII letters, digits and punctuation.";
        if (c == '"')
            return "User names cannot contain double quotes.";
    }
    return {};
}

QByteArray foldCase(QByteArrayView name)
{
    return name.toByteArray().toLower();
}

std::optional<QHash<QByteArray, QByteArray>> parseAccounts(QByteArrayView content,
                                                           QString *error)
{
    QHash<QByteArray, QByteArray> accounts;
    const QList<QByteArray> lines = content.toByteArray().split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon < 0 || !nameProblem(name).isEmpty()) {
            if (error)
                *error = QStringLiteral("line %1: expected name:password").arg(i + 1);
            return std::nullopt;
        }
        accounts.insert(name, line.mid(colon + 1));
    }
    return accounts;
}

} // namespace Protocol
