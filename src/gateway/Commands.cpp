// SPDX-License-Identifier: MIT
// The gateway's commands: one row each in the table below, and its handler.
#include "ChatWorld.h"

#include "ClusterLink.h"
#include "Names.h"
#include "protocol/EventBuilder.h"

#include <array>

using Names::foldCase;

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

QByteArrayView trimTrailingSpaces(QByteArrayView s)
{
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == ' ')
        --n;
    return s.first(n);
}

// ASCII letters in either case; the table's names are lower case.
bool isCommandName(QByteArrayView word, QByteArrayView name)
{
    if (name.isEmpty() || word.size() != name.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != name[i])
            return false;
    }
    return true;
}

} // namespace

struct ChatWorld::Command
{
    // How the rest of the line after the command word, and the run of spaces
    // after it, is cut.
    enum class Shape {
        Text,          // all of it is the text
        TargetAndText, // a first word, a run of spaces, then the text as it is
        Target,        // a first word; the rest is ignored
        Channel,       // all of it, trailing spaces dropped
    };
    enum class Access { Anyone, ChannelOperator };

    std::array<QByteArrayView, 4> names; // the name, then its aliases
    Shape shape;
    Access access;
    void (ChatWorld::*run)(User *user, const Arguments &arguments);

    Arguments cut(QByteArrayView rest) const
    {
        switch (shape) {
        case Shape::Text:
            return {{}, rest};
        case Shape::TargetAndText: {
            const qsizetype end = findSpace(rest, 0);
            return {rest.first(end), rest.sliced(skipSpaces(rest, end))};
        }
        case Shape::Target:
            return {rest.first(findSpace(rest, 0)), {}};
        case Shape::Channel:
            return {trimTrailingSpaces(rest), {}};
        }
        return {};
    }
};

const ChatWorld::Command *ChatWorld::findCommand(QByteArrayView word)
{
    using S = Command::Shape;
    using A = Command::Access;
    // Every command a user may type after "/"; a line without "/" is talk.
    static const Command kCommands[] = {
        {{"me", "emote"}, S::Text, A::Anyone, &ChatWorld::emote},
        {{"whisper", "w", "msg", "m"}, S::TargetAndText, A::Anyone, &ChatWorld::whisper},
        {{"channel", "join"}, S::Channel, A::Anyone, &ChatWorld::join},
        {{"whois"}, S::Target, A::Anyone, &ChatWorld::whois},
        {{"kick"}, S::TargetAndText, A::ChannelOperator, &ChatWorld::kick},
        {{"ban"}, S::TargetAndText, A::ChannelOperator, &ChatWorld::ban},
        {{"squelch"}, S::Target, A::Anyone, &ChatWorld::squelch},
        {{"unsquelch"}, S::Target, A::Anyone, &ChatWorld::unsquelch},
    };
    for (const Command &command : kCommands) {
        for (const QByteArrayView name : command.names) {
            if (isCommandName(word, name))
                return &command;
        }
    }
    return nullptr;
}

// After the command word exactly one run of spaces is skipped; the rest is
// cut by the command's row.
void ChatWorld::runLine(User *user, QByteArrayView line)
{
    if (line.isEmpty())
        return;
    if (line.front() != '/') {
        talk(user, {{}, line});
        return;
    }
    const qsizetype wordEnd = findSpace(line, 1);
    const Command *command = findCommand(line.sliced(1, wordEnd - 1));
    if (!command) {
        sendTo(user, Protocol::errorLine("That is not a valid command."));
        return;
    }
    if (command->access == Command::Access::ChannelOperator && !isOperator(user)) {
        sendTo(user, Protocol::errorLine("You are not a channel operator."));
        return;
    }
    (this->*command->run)(user, command->cut(line.sliced(skipSpaces(line, wordEnd))));
}

void ChatWorld::talk(User *user, const Arguments &arguments)
{
    const QByteArray line = Protocol::talkLine(user->name, flags(user), arguments.text);
    if (broadcast(user->channel, line, user, user->name))
        m_senderMustWait = true;
    relay(user->channel, line, user->name);
}

void ChatWorld::emote(User *user, const Arguments &arguments)
{
    if (arguments.text.isEmpty())
        return;
    const QByteArray line = Protocol::emoteLine(user->name, flags(user), arguments.text);
    if (broadcast(user->channel, line, nullptr, user->name))
        m_senderMustWait = true;
    relay(user->channel, line, user->name);
}

void ChatWorld::whisper(User *user, const Arguments &arguments)
{
    if (arguments.target.isEmpty() || arguments.text.isEmpty()) {
        sendTo(user, Protocol::errorLine("Usage: /whisper <name> <message>"));
        return;
    }
    const User *recipient = findUser(arguments.target);
    if (!recipient) {
        // Another gateway's user; the link knows whether one has that name.
        const QByteArray line = Protocol::whisperLine(user->name, flags(user), arguments.text);
        if (!m_link || !m_link->sendWhisper(user->name, arguments.target.toByteArray(), line))
            sendTo(user, Protocol::errorLine("That user is not logged on."));
        return;
    }
    if (!recipient->squelched.contains(foldCase(user->name)))
        sendTo(recipient, Protocol::whisperLine(user->name, flags(user), arguments.text));
}

void ChatWorld::join(User *user, const Arguments &arguments)
{
    const QByteArrayView channel = arguments.target;
    if (channel.isEmpty()) {
        sendTo(user, Protocol::errorLine("Which channel do you want to join?"));
        return;
    }
    if (channel.size() > Names::kMaxChannelNameLength) {
        sendTo(user, Protocol::errorLine("That channel name is too long."));
        return;
    }
    if (isBanned(user, channel)) {
        sendTo(user, Protocol::errorLine("You are banned from that channel."));
        return;
    }
    enterChannel(user, channel.toByteArray(), true);
}

void ChatWorld::whois(User *user, const Arguments &arguments)
{
    if (arguments.target.isEmpty()) {
        sendTo(user, Protocol::errorLine("Usage: /whois <name>"));
        return;
    }
    const User *other = findUser(arguments.target);
    if (other) {
        sendTo(user, Protocol::infoLine(joined({other->name, " is using Vesk Chat in channel ", other->channel->name, "."})));
        return;
    }
    const auto remote = m_link ? m_link->findRemoteUser(arguments.target.toByteArray()) : std::nullopt;
    if (!remote) {
        sendTo(user, Protocol::errorLine("That user is not logged on."));
        return;
    }
    sendTo(user, Protocol::infoLine(joined({remote->name, " is using Vesk Chat in channel ", remote->channel, "."})));
}

void ChatWorld::kick(User *user, const Arguments &arguments)
{
    kickOrBan(user, arguments, false);
}

void ChatWorld::ban(User *user, const Arguments &arguments)
{
    kickOrBan(user, arguments, true);
}

// Only for the channel's operator (the command table checks that first).
void ChatWorld::kickOrBan(User *user, const Arguments &arguments, bool ban)
{
    if (arguments.target.isEmpty()) {
        sendTo(user, Protocol::errorLine(ban ? "Usage: /ban <name> [reason]" : "Usage: /kick <name> [reason]"));
        return;
    }
    User *victim = findUser(arguments.target);
    Channel *channel = user->channel;
    // A member on another gateway: named as that gateway announced it.
    std::optional<ClusterLink::RemoteUser> remote;
    if (!victim && m_link) {
        remote = m_link->findRemoteUser(arguments.target.toByteArray());
        if (remote && foldCase(remote->channel) != channel->key)
            remote.reset();
    }
    if ((!victim || victim->channel != channel) && !remote) {
        sendTo(user, Protocol::errorLine("That user is not in this channel."));
        return;
    }
    const QByteArray victimName = victim ? victim->name : remote->name;
    if (victim == user) {
        sendTo(user, Protocol::errorLine(ban ? "You cannot ban yourself." : "You cannot kick yourself."));
        return;
    }

    QSet<QByteArray> &bans = m_bans[channel->key];
    if (ban && bans.size() >= m_limits.maxBansPerChannel && !bans.contains(foldCase(victimName))) {
        sendTo(user, Protocol::errorLine("This channel's ban list is full."));
        return;
    }
    QByteArray text = joined({victimName, ban ? " was banned by " : " was kicked out of the channel by ", user->name});
    if (!arguments.text.isEmpty())
        text.append(" (").append(arguments.text).append(')');
    text.append('.');
    if (ban)
        bans.insert(foldCase(victimName));
    const QByteArray line = Protocol::infoLine(text);
    broadcast(channel, line);
    if (m_link)
        m_link->sendKick(channel->name, user->name, victimName, line, ban);
    if (victim)
        enterChannel(victim, kVoidChannel, true);
}

void ChatWorld::squelch(User *user, const Arguments &arguments)
{
    setSquelched(user, arguments.target, true);
}

void ChatWorld::unsquelch(User *user, const Arguments &arguments)
{
    setSquelched(user, arguments.target, false);
}

void ChatWorld::setSquelched(User *user, QByteArrayView target, bool on)
{
    if (target.isEmpty()) {
        sendTo(user, Protocol::errorLine(on ? "Usage: /squelch <name>" : "Usage: /unsquelch <name>"));
        return;
    }
    const User *other = findUser(target);
    const QByteArray key = foldCase(target);
    const auto remote = !other && m_link ? m_link->findRemoteUser(target.toByteArray()) : std::nullopt;
    // Unsquelching also works for someone who has logged off since.
    if (!other && !remote && (on || !user->squelched.contains(key))) {
        sendTo(user, Protocol::errorLine("That user is not logged on."));
        return;
    }
    if (on && other == user) {
        sendTo(user, Protocol::errorLine("You cannot squelch yourself."));
        return;
    }
    const QByteArrayView name = other ? QByteArrayView(other->name) : remote ? QByteArrayView(remote->name) : target;
    if (on) {
        user->squelched.insert(key);
        sendTo(user, Protocol::infoLine(joined({name, " has been squelched."})));
    } else {
        user->squelched.remove(key);
        sendTo(user, Protocol::infoLine(joined({name, " has been unsquelched."})));
    }
}
