// SPDX-License-Identifier: MIT
#include "ChatWorld.h"

#include "ClusterLink.h"
#include "NameRegistry.h"
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

// Names tried for one login in a network: the name, then name#2, name#3 ...
constexpr int kMaxClaimAttempts = 8;

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

void ChatWorld::logIn(ClientConnection *connection, const QByteArray &name, const QByteArray &password)
{
    if (const QByteArray problem = checkLogin(name, password); !problem.isEmpty()) {
        refuse(connection, name, problem);
        return;
    }
    // The credentials are good: claim the name in the network, then admit.
    claimThenAdmit(connection, name, uniqueName(name), 1);
}

void ChatWorld::claimThenAdmit(ClientConnection *connection, const QByteArray &name, const QByteArray &candidate,
                               int attempt)
{
    if (!m_registry) {
        admit(connection, candidate);
        return;
    }
    // Without NATS no name can be made sure of: say so now rather than keep the user waiting.
    if (!m_link->isUp()) {
        refuse(connection, name, "The chat network cannot be reached; please try again later.");
        return;
    }
    if (attempt > kMaxClaimAttempts || candidate.size() > ClusterMessage::kMaxNameSize) {
        refuse(connection, name, "That user name is in use.");
        return;
    }
    m_claims.insert(foldCase(candidate), PendingLogin{connection, name, attempt});
    m_claimByConnection.insert(connection, foldCase(candidate));
    m_registry->claim(candidate);
}

void ChatWorld::onClaimFinished(const QByteArray &name, int result)
{
    const auto pending = m_claims.constFind(foldCase(name));
    if (pending == m_claims.constEnd()) {
        // Whoever asked has gone meanwhile.
        if (NameRegistry::Claim(result) == NameRegistry::Claim::Won)
            m_registry->release(name);
        return;
    }
    const PendingLogin login = *pending;
    m_claims.erase(pending);
    m_claimByConnection.remove(login.connection);
    switch (NameRegistry::Claim(result)) {
    case NameRegistry::Claim::Won:
        admit(login.connection, name);
        break;
    case NameRegistry::Claim::Taken: {
        // As on one gateway: a name in use elsewhere gets the next free suffix.
        int n = 0;
        const qsizetype hash = name.lastIndexOf('#');
        if (hash > 0 && foldCase(name.left(hash)) == foldCase(login.name))
            n = name.mid(hash + 1).toInt();
        claimThenAdmit(login.connection, login.name, uniqueName(login.name, qMax(2, n + 1)), login.attempt + 1);
        break;
    }
    case NameRegistry::Claim::Unavailable:
        refuse(login.connection, login.name, "The chat network cannot be reached; please try again later.");
        break;
    }
}

void ChatWorld::refuse(ClientConnection *connection, const QByteArray &name, const QByteArray &problem)
{
    log(connection, QStringLiteral("login refused for %1: %2").arg(printable(name), QString::fromUtf8(problem)));
    connection->refuse(problem);
}

void ChatWorld::admit(ClientConnection *connection, const QByteArray &name)
{
    auto owned = std::make_unique<User>();
    User *user = owned.get();
    user->connection = connection;
    user->name = name;
    m_scheduler.admit(connection);
    m_users.emplace(foldCase(user->name), std::move(owned));
    m_userByConnection.insert(connection, user);
    if (m_link)
        m_link->nameClaimed(user->name);
    connection->acceptLogin();
    log(connection, QStringLiteral("logged in as %1").arg(printable(user->name)));

    enterChannel(user, isBanned(user, kLobbyChannel) ? kVoidChannel : kLobbyChannel, false);
    sendTo(user, Protocol::infoLine(joined({"Welcome to the Vesk Chat local gateway, ", user->name, "."})));
    emit loggedIn(connection);
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

// The name, or from `from` on the first name#n that no local user has or claims.
QByteArray ChatWorld::uniqueName(const QByteArray &name, int from) const
{
    const auto inUse = [this](const QByteArray &candidate) {
        const QByteArray key = foldCase(candidate);
        return m_users.contains(key) || m_claims.contains(key);
    };
    if (from <= 1 && !inUse(name))
        return name;
    for (int n = qMax(2, from);; ++n) {
        const QByteArray candidate = name + '#' + QByteArray::number(n);
        if (!inUse(candidate))
            return candidate;
    }
}

Scheduler::WaitList *ChatWorld::handleLine(ClientConnection *connection, QByteArrayView line)
{
    User *user = m_userByConnection.value(connection);
    if (!user || user->nameLost)
        return nullptr;
    // After the loop stood still the name may have expired before its check ran.
    if (m_registry && !m_registry->holds(user->name)) {
        m_registry->expireOverdue();
        if (user->nameLost)
            return nullptr;
    }
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
    if (const auto claim = m_claimByConnection.constFind(connection); claim != m_claimByConnection.constEnd()) {
        m_claims.remove(*claim);
        m_claimByConnection.erase(claim);
    }
    User *user = m_userByConnection.take(connection);
    if (!user) {
        log(connection, QStringLiteral("disconnected%1").arg(suffix));
        return;
    }
    leaveChannel(user);
    log(connection, QStringLiteral("%1 disconnected%2").arg(printable(user->name), suffix));
    if (m_registry && !user->nameLost)
        m_registry->release(user->name);
    m_users.erase(foldCase(user->name));
}

ChatWorld::User *ChatWorld::findUser(QByteArrayView name) const
{
    // A user whose name was lost is on its way out and no longer anywhere.
    const auto it = m_users.find(foldCase(name));
    return it == m_users.end() || it->second->nameLost ? nullptr : it->second.get();
}

ChatWorld::Channel *ChatWorld::findChannel(QByteArrayView name) const
{
    const auto it = m_channels.find(foldCase(name));
    return it == m_channels.end() ? nullptr : it->second.get();
}

bool ChatWorld::isBanned(const User *user, QByteArrayView channelName) const
{
    const auto bans = m_bans.constFind(foldCase(channelName));
    return bans != m_bans.constEnd() && bans->contains(foldCase(user->name));
}

bool ChatWorld::isOperator(const User *user)
{
    return user->channel && user->channel->op == user;
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
    if (!channel->op && !remoteOperatorIn(channel))
        channel->op = user;
    if (logChange) {
        log(user->connection,
            QStringLiteral("%1 entered channel \"%2\"").arg(printable(user->name), printable(channel->name)));
    }
    sendChannelState(user);
    broadcast(channel, Protocol::joinLine(user->name, flags(user)), user);
    if (m_link)
        m_link->userJoined(user->name, channel->name, flags(user).toByteArray());
}

void ChatWorld::leaveChannel(User *user)
{
    Channel *channel = user->channel;
    if (!channel)
        return;
    const QByteArray userFlags = flags(user).toByteArray();
    const QByteArray leaveLine = Protocol::leaveLine(user->name, userFlags);
    const bool wasOperator = isOperator(user);
    channel->members.removeOne(user);
    user->channel = nullptr;
    m_scheduler.stopWaiting(user->connection);
    if (wasOperator)
        channel->op = channel->members.isEmpty() ? nullptr : channel->members.first();
    if (m_link) {
        // The successor is announced first, so no gateway sees the channel without operator.
        if (channel->op && wasOperator)
            m_link->userJoined(channel->op->name, channel->name, EventFlags::Operator.toByteArray());
        m_link->userLeft(user->name, channel->name, userFlags);
    }
    if (channel->members.isEmpty()) {
        m_bans.remove(channel->key);
        m_channels.erase(channel->key);
        return;
    }
    // Whoever the others waited for may be the one leaving.
    m_scheduler.wake(channel->waiting);
    broadcast(channel, leaveLine);
    // The other gateways say so themselves when they see the leave.
    if (wasOperator)
        broadcast(channel, Protocol::infoLine(joined({channel->op->name, " is now the channel operator."})));
}

void ChatWorld::sendChannelState(User *user)
{
    QByteArray lines = Protocol::channelLine(user->channel->name);
    // The other gateways' members first: the newcomer, local, comes last as on one gateway.
    if (m_link) {
        const QList<ClusterLink::RemoteUser> remote = m_link->remoteMembers(user->channel->name);
        for (const ClusterLink::RemoteUser &member : remote)
            lines.append(Protocol::userLine(member.name, member.flags));
    }
    for (const User *member : std::as_const(user->channel->members))
        lines.append(Protocol::userLine(member->name, flags(member)));
    sendTo(user, lines);
}

bool ChatWorld::broadcast(Channel *channel, const QByteArray &line, const User *except, QByteArrayView author)
{
    QByteArray authorKey;
    bool behind = false;
    for (const User *member : std::as_const(channel->members)) {
        if (member == except)
            continue;
        if (!author.isEmpty() && !member->squelched.isEmpty()) {
            if (authorKey.isEmpty())
                authorKey = foldCase(author);
            if (member->squelched.contains(authorKey))
                continue;
        }
        behind |= sendTo(member, line);
    }
    return behind;
}

void ChatWorld::relay(const Channel *channel, const QByteArray &line, QByteArrayView author)
{
    if (m_link)
        m_link->sendChannelLine(channel->name, author.toByteArray(), line);
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

// The operator rule across gateways. Each gateway decides for its own users
// and announces the result in their flags: a user who enters a channel in
// which no operator is known anywhere becomes its operator; when the operator
// leaves, the next member on its own gateway takes over, announced before the
// leave; when the operator's gateway has no one left there, the gateway with
// the smallest node name among those with members promotes its first member.
// If two gateways made an operator at the same moment (two users entering an
// empty channel on two gateways), the one on the larger node name steps back
// when it hears of the other, so the channel ends with one operator.
bool ChatWorld::remoteOperatorIn(const Channel *channel) const
{
    if (!m_link)
        return false;
    const QList<ClusterLink::RemoteUser> remote = m_link->remoteMembers(channel->name);
    return std::any_of(remote.begin(), remote.end(),
                       [](const ClusterLink::RemoteUser &member) { return member.flags == EventFlags::Operator; });
}

void ChatWorld::makeOperator(Channel *channel, User *user)
{
    channel->op = user;
    m_link->userJoined(user->name, channel->name, EventFlags::Operator.toByteArray());
    const QByteArray line = Protocol::infoLine(joined({user->name, " is now the channel operator."}));
    broadcast(channel, line);
    relay(channel, line);
}

void ChatWorld::attachCluster(ClusterLink *link, NameRegistry *registry)
{
    m_link = link;
    m_registry = registry;
    connect(registry, &NameRegistry::claimFinished, this,
            [this](const QByteArray &name, NameRegistry::Claim result) { onClaimFinished(name, int(result)); });
    connect(registry, &NameRegistry::namesLost, this, &ChatWorld::dropLostNames);
    connect(registry, &NameRegistry::logMessage, this, &ChatWorld::logMessage);
    connect(link, &ClusterLink::logMessage, this, &ChatWorld::logMessage);
    connect(link, &ClusterLink::nameContested, registry, &NameRegistry::expireOverdue);
    link->setSnapshotFilter([registry](const QByteArray &user) { return registry->holds(user); });
    link->setBanListProvider([this](const QByteArray &channel) { return m_bans.value(foldCase(channel)).values(); });

    connect(link, &ClusterLink::lineForChannel, this,
            [this](const QByteArray &channelName, const QByteArray &author, const QByteArray &line) {
                if (Channel *channel = findChannel(channelName))
                    broadcast(channel, line, nullptr, author);
            });
    connect(link, &ClusterLink::whisperFor, this,
            [this](const QByteArray &to, const QByteArray &from, const QByteArray &line) {
                const User *recipient = findUser(to);
                if (recipient && !recipient->nameLost && !recipient->squelched.contains(foldCase(from)))
                    sendTo(recipient, line);
            });
    connect(link, &ClusterLink::remoteJoined, this, &ChatWorld::onRemoteJoined);
    connect(link, &ClusterLink::remoteLeft, this, &ChatWorld::onRemoteLeft);
    connect(link, &ClusterLink::kicked, this,
            [this](const QByteArray &channel, const QByteArray &, const QByteArray &victim, const QByteArray &line,
                   bool ban) { onKicked(channel, victim, line, ban); });
    connect(link, &ClusterLink::bansLearned, this, &ChatWorld::addBans);
    connect(link, &ClusterLink::linesMayBeMissing, this, [this](const QByteArray &channelName) {
        if (Channel *channel = findChannel(channelName))
            broadcast(channel, Protocol::infoLine("Some lines of this channel may be missing: the link between "
                                                  "gateways was interrupted."));
    });
}

void ChatWorld::onRemoteJoined(const QByteArray &node, const QByteArray &user, const QByteArray &channelName,
                               const QByteArray &flags)
{
    Channel *channel = findChannel(channelName);
    if (!channel)
        return;
    broadcast(channel, Protocol::joinLine(user, flags));
    if (flags == EventFlags::Operator && channel->op && node < m_link->node()) {
        User *stepsBack = std::exchange(channel->op, nullptr);
        m_link->userJoined(stepsBack->name, channel->name, EventFlags::User.toByteArray());
    }
}

void ChatWorld::onRemoteLeft(const QByteArray &, const QByteArray &user, const QByteArray &channelName,
                             const QByteArray &flags)
{
    Channel *channel = findChannel(channelName);
    if (!channel)
        return;
    broadcast(channel, Protocol::leaveLine(user, flags));
    if (channel->op)
        return;
    // A successor on the leaver's gateway was announced before the leave.
    const QList<ClusterLink::RemoteUser> members = m_link->remoteMembers(channel->name);
    const auto op = std::find_if(members.begin(), members.end(), [](const ClusterLink::RemoteUser &member) {
        return member.flags == EventFlags::Operator;
    });
    if (op != members.end()) {
        if (flags == EventFlags::Operator)
            broadcast(channel, Protocol::infoLine(joined({op->name, " is now the channel operator."})));
        return;
    }
    const bool smallest = std::none_of(members.begin(), members.end(), [this](const ClusterLink::RemoteUser &member) {
        return member.node < m_link->node();
    });
    if (smallest)
        makeOperator(channel, channel->members.first());
}

void ChatWorld::onKicked(const QByteArray &channelName, const QByteArray &victimName, const QByteArray &line,
                         bool ban)
{
    if (Channel *channel = findChannel(channelName)) {
        broadcast(channel, line);
        User *victim = findUser(victimName);
        if (victim && victim->channel == channel)
            enterChannel(victim, kVoidChannel, true);
    }
    if (ban)
        addBans(channelName, {victimName});
}

// Bans of a channel in use here, from another gateway; a banned member who
// came in through this gateway before it knew goes to the void.
void ChatWorld::addBans(const QByteArray &channelName, const QList<QByteArray> &users)
{
    Channel *channel = findChannel(channelName);
    if (!channel)
        return;
    QSet<QByteArray> &bans = m_bans[channel->key];
    for (const QByteArray &user : users) {
        if (bans.size() < m_limits.maxBansPerChannel)
            bans.insert(foldCase(user));
    }
    QList<User *> banned;
    for (User *member : std::as_const(channel->members)) {
        if (bans.contains(foldCase(member->name)))
            banned.append(member);
    }
    // Moving them may empty the channel, and with it its bans.
    for (User *member : std::as_const(banned)) {
        sendTo(member, Protocol::errorLine("You are banned from that channel."));
        enterChannel(member, kVoidChannel, true);
    }
}

void ChatWorld::dropLostNames(const QList<QByteArray> &names)
{
    for (const QByteArray &name : names) {
        User *user = findUser(name);
        if (!user || user->nameLost)
            continue;
        user->nameLost = true;
        leaveChannel(user);
        log(user->connection, QStringLiteral("%1 dropped: the name could not be kept in the chat network")
                                      .arg(printable(user->name)));
        user->connection->refuse("Your name could not be kept in the chat network; please log in again.");
    }
}
