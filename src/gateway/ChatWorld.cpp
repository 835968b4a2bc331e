// SPDX-License-Identifier: MIT
#include "ChatWorld.h"

#include "Names.h"
#include "protocol/EventBuilder.h"
#include "protocol/EventCodes.h"

using Names::foldCase;

namespace {

// Names and channels are raw bytes; keep control characters and direction
// overrides out of the log.
QString printable(QByteArrayView bytes)
{
    QString text = QString::fromUtf8(bytes);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u'?';
    }
    return text;
}

} // namespace

QByteArray ChatWorld::joined(std::initializer_list<QByteArrayView> parts)
{
    QByteArray result;
    for (const QByteArrayView part : parts)
        result.append(part);
    return result;
}

ChatWorld::ChatWorld(const GatewayLimits &limits, Scheduler &scheduler, QObject *parent)
    : QObject(parent), m_limits(limits), m_scheduler(scheduler)
{
}

ChatWorld::~ChatWorld() = default;

bool ChatWorld::logIn(ClientConnection *connection, const QByteArray &name, const QByteArray &password)
{
    const QByteArray problem = checkLogin(name, password);
    if (!problem.isEmpty()) {
        log(connection, QStringLiteral("login refused for %1: %2").arg(printable(name), QString::fromUtf8(problem)));
        connection->refuse(problem);
        return false;
    }

    auto owned = std::make_unique<User>();
    User *user = owned.get();
    user->connection = connection;
    user->name = uniqueName(name);
    m_scheduler.admit(connection);
    m_users.emplace(foldCase(user->name), std::move(owned));
    m_userByConnection.insert(connection, user);
    connection->acceptLogin();
    log(connection, QStringLiteral("logged in as %1").arg(printable(user->name)));

    enterChannel(user, isBanned(user, kLobbyChannel) ? kVoidChannel : kLobbyChannel, false);
    sendTo(user, Protocol::infoLine(joined({"Welcome to the Vesk Chat local gateway, ", user->name, "."})));
    return true;
}

QByteArray ChatWorld::checkLogin(const QByteArray &name, const QByteArray &password) const
{
    if (QByteArray problem = Names::nameProblem(name); !problem.isEmpty())
        return problem;
    if (Names::isAnonymousName(name))
        return {};
    if (password.isEmpty())
        return "That user name needs a password.";
    return {};
}

QByteArray ChatWorld::uniqueName(const QByteArray &name) const
{
    if (!m_users.contains(foldCase(name)))
        return name;
    for (int n = 2;; ++n) {
        const QByteArray candidate = name + '#' + QByteArray::number(n);
        if (!m_users.contains(foldCase(candidate)))
            return candidate;
    }
}

Scheduler::WaitList *ChatWorld::handleLine(ClientConnection *connection, QByteArrayView line)
{
    User *user = m_userByConnection.value(connection);
    if (!user)
        return nullptr;
    m_senderMustWait = false;
    runLine(user, line);
    return m_senderMustWait && user->channel ? &user->channel->waiting : nullptr;
}

void ChatWorld::readerCaughtUp(const ClientConnection *connection)
{
    if (const User *user = m_userByConnection.value(connection); user && user->channel)
        m_scheduler.wake(user->channel->waiting);
}

void ChatWorld::connectionClosed(ClientConnection *connection)
{
    const QString reason = connection->closeReason();
    const QString suffix = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
    User *user = m_userByConnection.take(connection);
    if (!user) {
        log(connection, QStringLiteral("disconnected%1").arg(suffix));
        return;
    }
    leaveChannel(user);
    log(connection, QStringLiteral("%1 disconnected%2").arg(printable(user->name), suffix));
    m_users.erase(foldCase(user->name));
}

ChatWorld::User *ChatWorld::findUser(QByteArrayView name) const
{
    const auto it = m_users.find(foldCase(name));
    return it == m_users.end() ? nullptr : it->second.get();
}

bool ChatWorld::isBanned(const User *user, QByteArrayView channelName) const
{
    const auto bans = m_bans.constFind(foldCase(channelName));
    return bans != m_bans.constEnd() && bans->contains(foldCase(user->name));
}

bool ChatWorld::isOperator(const User *user)
{
    return user->channel && user->channel->members.first() == user;
}

QByteArrayView ChatWorld::flags(const User *user)
{
    return isOperator(user) ? EventFlags::Operator : EventFlags::User;
}

void ChatWorld::enterChannel(User *user, const QByteArray &channelName, bool logChange)
{
    const QByteArray key = foldCase(channelName);
    if (user->channel && user->channel->key == key) {
        sendChannelState(user);
        return;
    }
    leaveChannel(user);

    std::unique_ptr<Channel> &slot = m_channels[key];
    if (!slot) {
        slot = std::make_unique<Channel>();
        slot->name = channelName;
        slot->key = key;
    }
    Channel *channel = slot.get();
    channel->members.append(user);
    user->channel = channel;
    if (logChange) {
        log(user->connection,
            QStringLiteral("%1 entered channel \"%2\"").arg(printable(user->name), printable(channel->name)));
    }
    sendChannelState(user);
    broadcast(channel, Protocol::joinLine(user->name, flags(user)), user);
}

void ChatWorld::leaveChannel(User *user)
{
    Channel *channel = user->channel;
    if (!channel)
        return;
    const QByteArray leaveLine = Protocol::leaveLine(user->name, flags(user));
    const bool wasOperator = isOperator(user);
    channel->members.removeOne(user);
    user->channel = nullptr;
    m_scheduler.stopWaiting(user->connection);
    if (channel->members.isEmpty()) {
        m_bans.remove(channel->key);
        m_channels.erase(channel->key);
        return;
    }
    // Whoever the others waited for may be the one leaving.
    m_scheduler.wake(channel->waiting);
    broadcast(channel, leaveLine);
    if (wasOperator)
        broadcast(channel, Protocol::infoLine(joined({channel->members.first()->name, " is now the channel operator."})));
}

void ChatWorld::sendChannelState(User *user)
{
    QByteArray lines = Protocol::channelLine(user->channel->name);
    for (const User *member : std::as_const(user->channel->members))
        lines.append(Protocol::userLine(member->name, flags(member)));
    sendTo(user, lines);
}

bool ChatWorld::broadcast(Channel *channel, const QByteArray &line, const User *except, const User *author)
{
    QByteArray authorKey;
    bool behind = false;
    for (const User *member : std::as_const(channel->members)) {
        if (member == except)
            continue;
        if (author && !member->squelched.isEmpty()) {
            if (authorKey.isEmpty())
                authorKey = foldCase(author->name);
            if (member->squelched.contains(authorKey))
                continue;
        }
        behind |= sendTo(member, line);
    }
    return behind;
}

bool ChatWorld::sendTo(const User *user, const QByteArray &line)
{
    m_scheduler.noteDelivery();
    return user->connection->send(line);
}

qsizetype ChatWorld::banCount(const QByteArray &channel) const
{
    return m_bans.value(foldCase(channel)).size();
}

void ChatWorld::log(const ClientConnection *connection, const QString &what)
{
    emit logMessage(connection->peer() + QLatin1Char(' ') + what);
}
