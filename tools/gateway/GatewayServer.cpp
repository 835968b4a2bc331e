// SPDX-License-Identifier: MIT
#include "GatewayServer.h"

#include "ClientConnection.h"
#include "Protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

using Protocol::foldCase;

namespace {

// A client's turn ends after this many lines or deliveries (lines queued for a
// recipient), so that no client monopolises a pass; a pass stops giving turns
// after kDeliveriesPerPass, so that output is flushed often.
constexpr int kLinesPerTurn = 16;
constexpr qint64 kDeliveriesPerTurn = 256;
constexpr qint64 kDeliveriesPerPass = 8192;
// Receive buffer of client sockets (inherited from the listening socket). The
// kernel would otherwise grow it to megabytes, and a sender's lines would wait
// there long after the server stopped reading them; small, a fast sender's own
// writes block instead.
constexpr int kReceiveBufferBytes = 8 * 1024;

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

QByteArray joined(std::initializer_list<QByteArrayView> parts)
{
    QByteArray result;
    for (const QByteArrayView part : parts)
        result.append(part);
    return result;
}

} // namespace

GatewayServer::GatewayServer(const GatewayLimits &limits, QObject *parent)
    : QObject(parent), m_limits(limits)
{
    m_tcpServer.accepted = [this](qintptr descriptor) { onIncoming(descriptor); };
    m_clock.start();
}

GatewayServer::~GatewayServer()
{
    // Connections must not call back into a half-destroyed server.
    const auto connections = findChildren<ClientConnection *>(Qt::FindDirectChildrenOnly);
    for (ClientConnection *connection : connections) {
        connection->disconnect(this);
        delete connection;
    }
}

bool GatewayServer::listen(const QHostAddress &address, quint16 port)
{
    if (!m_tcpServer.listen(address, port))
        return false;
    const int size = kReceiveBufferBytes;
    ::setsockopt(int(m_tcpServer.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return true;
}

void GatewayServer::onIncoming(qintptr descriptor)
{
    const int fd = int(descriptor);
    const QHostAddress address = ClientConnection::remoteAddress(fd);
    AddressCount &count = m_addresses[address];
    if (const QByteArray problem = connectionProblem(count); !problem.isEmpty()) {
        if (count.connections == 0)
            m_addresses.remove(address);
        // Refused before any state exists: drain what the client may already
        // have sent, so closing does not reset the connection and lose the
        // line, then say why and close.
        char discard[4096];
        while (::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
        }
        const QByteArray line = Protocol::infoLine(problem);
        ::send(fd, line.constData(), size_t(line.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        ::close(fd);
        emit logMessage(QStringLiteral("%1 refused: %2")
                                .arg(address.toString(), QString::fromUtf8(problem)));
        return;
    }
    ++count.connections;
    ++count.unfinished;

    auto *connection = new ClientConnection(fd, &m_totals, this);
    m_connections.insert(connection);
    connection->setQueueLimit(m_limits.maxQueueBytes, m_limits.queueHoldMs, m_limits.queueGraceMs);
    connection->startLoginTimer(m_limits.loginTimeoutMs);
    connect(connection, &ClientConnection::loginRequested, this,
            [this, connection](const QByteArray &name, const QByteArray &password) {
                onLoginRequested(connection, name, password);
            });
    connect(connection, &ClientConnection::handshakeFailed, this,
            [this, connection](const QString &reason) {
                log(connection, QStringLiteral("refused: %1").arg(reason));
            });
    connect(connection, &ClientConnection::inputReady, this,
            [this, connection] { makeReady(connection, true); });
    connect(connection, &ClientConnection::outputQueued, this, [this, connection] {
        m_dirty.push_back(connection);
        schedulePass();
    });
    connect(connection, &ClientConnection::channelReleased, this, [this, connection] {
        if (const User *user = m_userByConnection.value(connection); user && user->channel)
            wakeWaiting(user->channel);
    });
    connect(connection, &ClientConnection::closed, this,
            [this, connection] { onClosed(connection); });
    log(connection, QStringLiteral("connected"));
}

QByteArray GatewayServer::connectionProblem(const AddressCount &count) const
{
    if (m_connections.size() >= m_limits.maxConnections)
        return "The server is full. Please try again later.";
    if (count.connections >= m_limits.maxPerAddress)
        return "Too many connections from your address.";
    if (count.unfinished >= m_limits.maxUnfinishedPerAddress)
        return "Too many unfinished logins from your address.";
    return {};
}

void GatewayServer::forgetConnection(ClientConnection *connection, bool loggedIn)
{
    m_connections.remove(connection);
    const auto count = m_addresses.find(connection->address());
    if (count != m_addresses.end()) {
        --count->connections;
        if (!loggedIn)
            --count->unfinished;
        if (count->connections == 0)
            m_addresses.erase(count);
    }
    if (m_readySet.remove(connection))
        std::erase(m_ready, connection);
    std::erase(m_dirty, connection);
}

void GatewayServer::schedulePass()
{
    if (m_passScheduled)
        return;
    m_passScheduled = true;
    QMetaObject::invokeMethod(this, &GatewayServer::runPass, Qt::QueuedConnection);
}

void GatewayServer::makeReady(ClientConnection *connection, bool fresh)
{
    if (connection->isClosing() || m_readySet.contains(connection))
        return;
    m_readySet.insert(connection);
    // A client that had handled all its input goes before those that still
    // have a backlog, so a quiet channel never waits for a busy one's round.
    if (fresh)
        m_ready.push_front(connection);
    else
        m_ready.push_back(connection);
    schedulePass();
}

// Reading happened before this pass (socket notifiers); now every client with
// buffered lines gets one turn, unless the pass has done enough, and each
// client with output is flushed once.
void GatewayServer::runPass()
{
    m_passScheduled = false;
    const qint64 nowNs = m_clock.nsecsElapsed();
    const qint64 deliveredBefore = m_deliveries;
    for (size_t turns = m_ready.size(); turns > 0 && !m_ready.empty(); --turns) {
        if (m_deliveries - deliveredBefore >= kDeliveriesPerPass
            || m_totals.queuedBytes > m_limits.totalQueueBytes)
            break;
        ClientConnection *connection = m_ready.front();
        m_ready.pop_front();
        if (takeTurn(connection, nowNs))
            m_ready.push_back(connection);
        else
            m_readySet.remove(connection);
    }
    flushAll();
    enforceOutputBudget();
    if (!m_ready.empty())
        schedulePass();
}

// True when the client still has lines and may go on in the next pass.
bool GatewayServer::takeTurn(ClientConnection *connection, qint64 nowNs)
{
    QByteArrayView line;
    const qint64 deliveredBefore = m_deliveries;
    for (int i = 0; i < kLinesPerTurn && m_deliveries - deliveredBefore < kDeliveriesPerTurn; ++i) {
        User *user = m_userByConnection.value(connection);
        if (user && (user->waiting || !takeToken(user, nowNs)))
            return false;
        if (!connection->nextLine(line))
            return false;
        user = m_userByConnection.value(connection);
        if (!user)
            continue;
        m_senderMustWait = false;
        onLine(connection, line);
        if (connection->isClosing())
            return false;
        if (m_senderMustWait && user->channel) {
            user->waiting = true;
            user->channel->waiting.append(user);
            return false;
        }
    }
    return true;
}

// Token bucket: a user may send lineBurst lines at once, then lineRate lines
// per second. Out of tokens, it is not read again until the next one is due.
bool GatewayServer::takeToken(User *user, qint64 nowNs)
{
    if (m_limits.lineRate <= 0)
        return true;
    const double refill = double(nowNs - user->refilledAtNs) * m_limits.lineRate / 1e9;
    user->tokens = std::min(double(m_limits.lineBurst), user->tokens + refill);
    user->refilledAtNs = nowNs;
    if (user->tokens >= 1) {
        user->tokens -= 1;
        return true;
    }
    const double waitMs = (1 - user->tokens) * 1000 / m_limits.lineRate;
    user->rateTimer.start(int(std::ceil(waitMs)));
    return false;
}

void GatewayServer::wakeWaiting(Channel *channel)
{
    const QList<User *> waiting = std::exchange(channel->waiting, {});
    for (User *user : waiting) {
        user->waiting = false;
        makeReady(user->connection);
    }
}

void GatewayServer::flushAll()
{
    // flush() may drop a connection, but never deletes it here.
    const std::vector<ClientConnection *> dirty = std::exchange(m_dirty, {});
    for (ClientConnection *connection : dirty)
        connection->flush();
}

// Over the total, the clients furthest behind go first, until it fits.
void GatewayServer::enforceOutputBudget()
{
    while (m_totals.queuedBytes > m_limits.totalQueueBytes) {
        ClientConnection *furthest = nullptr;
        for (ClientConnection *connection : std::as_const(m_connections)) {
            if (!furthest || connection->queuedBytes() > furthest->queuedBytes())
                furthest = connection;
        }
        if (!furthest || furthest->queuedBytes() == 0)
            return;
        furthest->drop(QStringLiteral("furthest behind (%1 bytes unsent) when all output queues "
                                      "together exceeded %2 bytes")
                               .arg(furthest->queuedBytes())
                               .arg(m_limits.totalQueueBytes));
    }
}

void GatewayServer::onLoginRequested(ClientConnection *connection, const QByteArray &name,
                                     const QByteArray &password)
{
    const QByteArray problem = checkLogin(name, password);
    if (!problem.isEmpty()) {
        log(connection, QStringLiteral("login refused for %1: %2")
                                .arg(printable(name), QString::fromUtf8(problem)));
        connection->refuse(problem);
        return;
    }

    auto owned = std::make_unique<User>();
    User *user = owned.get();
    user->connection = connection;
    user->name = uniqueName(name);
    user->tokens = m_limits.lineBurst;
    user->refilledAtNs = m_clock.nsecsElapsed();
    user->rateTimer.setSingleShot(true);
    connect(&user->rateTimer, &QTimer::timeout, this, [this, connection] { makeReady(connection); });
    --m_addresses[connection->address()].unfinished;
    m_users.emplace(foldCase(user->name), std::move(owned));
    m_userByConnection.insert(connection, user);
    connection->acceptLogin();
    log(connection, QStringLiteral("logged in as %1").arg(printable(user->name)));

    enterChannel(user, isBanned(user, kLobbyChannel) ? kVoidChannel : kLobbyChannel, false);
    sendTo(user, Protocol::infoLine(
                         joined({"Welcome to the Vesk Chat local gateway, ", user->name, "."})));
}

QByteArray GatewayServer::checkLogin(const QByteArray &name, const QByteArray &password) const
{
    if (QByteArray problem = Protocol::nameProblem(name); !problem.isEmpty())
        return problem;
    if (Protocol::isAnonymousName(name))
        return {};
    if (password.isEmpty())
        return "That user name needs a password.";
    if (m_accounts) {
        const auto account = m_accounts->constFind(name);
        if (account == m_accounts->constEnd() || *account != password)
            return "Incorrect user name or password.";
    }
    return {};
}

QByteArray GatewayServer::uniqueName(const QByteArray &name) const
{
    if (!m_users.contains(foldCase(name)))
        return name;
    for (int n = 2;; ++n) {
        const QByteArray candidate = name + '#' + QByteArray::number(n);
        if (!m_users.contains(foldCase(candidate)))
            return candidate;
    }
}

void GatewayServer::onLine(ClientConnection *connection, QByteArrayView line)
{
    User *user = m_userByConnection.value(connection);
    if (!user)
        return;

    using K = Protocol::Command::Kind;
    const Protocol::Command command = Protocol::parseCommand(line);
    switch (command.kind) {
    case K::None:
        break;
    case K::Talk:
        talk(user, command.text);
        break;
    case K::Emote:
        emote(user, command.text);
        break;
    case K::Whisper:
        whisper(user, command.target, command.text);
        break;
    case K::Join:
        join(user, command.target);
        break;
    case K::Whois:
        whois(user, command.target);
        break;
    case K::Kick:
        kickOrBan(user, command.target, command.text, false);
        break;
    case K::Ban:
        kickOrBan(user, command.target, command.text, true);
        break;
    case K::Squelch:
        squelch(user, command.target, true);
        break;
    case K::Unsquelch:
        squelch(user, command.target, false);
        break;
    case K::Unknown:
        sendTo(user, Protocol::errorLine("That is not a valid command."));
        break;
    }
}

void GatewayServer::onClosed(ClientConnection *connection)
{
    const QString reason = connection->closeReason();
    const QString suffix = reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason);
    User *user = m_userByConnection.take(connection);
    forgetConnection(connection, user != nullptr);
    if (user) {
        leaveChannel(user);
        log(connection, QStringLiteral("%1 disconnected%2").arg(printable(user->name), suffix));
        m_users.erase(foldCase(user->name));
    } else {
        log(connection, QStringLiteral("disconnected%1").arg(suffix));
    }
    connection->deleteLater();
}

void GatewayServer::talk(User *user, const QByteArray &text)
{
    if (broadcast(user->channel, Protocol::talkLine(user->name, flags(user), text), user, user))
        m_senderMustWait = true;
}

void GatewayServer::emote(User *user, const QByteArray &text)
{
    if (text.isEmpty())
        return;
    if (broadcast(user->channel, Protocol::emoteLine(user->name, flags(user), text), nullptr, user))
        m_senderMustWait = true;
}

void GatewayServer::whisper(User *user, const QByteArray &target, const QByteArray &text)
{
    if (target.isEmpty() || text.isEmpty()) {
        sendTo(user, Protocol::errorLine("Usage: /whisper <name> <message>"));
        return;
    }
    const User *recipient = findUser(target);
    if (!recipient) {
        sendTo(user, Protocol::errorLine("That user is not logged on."));
        return;
    }
    if (!recipient->squelched.contains(foldCase(user->name)))
        sendTo(recipient, Protocol::whisperLine(user->name, flags(user), text));
}

void GatewayServer::join(User *user, const QByteArray &channel)
{
    if (channel.isEmpty()) {
        sendTo(user, Protocol::errorLine("Which channel do you want to join?"));
        return;
    }
    if (channel.size() > Protocol::kMaxChannelNameLength) {
        sendTo(user, Protocol::errorLine("That channel name is too long."));
        return;
    }
    if (isBanned(user, channel)) {
        sendTo(user, Protocol::errorLine("You are banned from that channel."));
        return;
    }
    enterChannel(user, channel, true);
}

void GatewayServer::whois(User *user, const QByteArray &target)
{
    if (target.isEmpty()) {
        sendTo(user, Protocol::errorLine("Usage: /whois <name>"));
        return;
    }
    const User *other = findUser(target);
    if (!other) {
        sendTo(user, Protocol::errorLine("That user is not logged on."));
        return;
    }
    sendTo(user, Protocol::infoLine(joined(
                         {other->name, " is using Vesk Chat in channel ", other->channel->name, "."})));
}

void GatewayServer::kickOrBan(User *user, const QByteArray &target, const QByteArray &reason,
                              bool ban)
{
    if (!isOperator(user)) {
        sendTo(user, Protocol::errorLine("You are not a channel operator."));
        return;
    }
    if (target.isEmpty()) {
        sendTo(user, Protocol::errorLine(ban ? "Usage: /ban <name> [reason]"
                                             : "Usage: /kick <name> [reason]"));
        return;
    }
    User *victim = findUser(target);
    if (!victim || victim->channel != user->channel) {
        sendTo(user, Protocol::errorLine("That user is not in this channel."));
        return;
    }
    if (victim == user) {
        sendTo(user, Protocol::errorLine(ban ? "You cannot ban yourself."
                                             : "You cannot kick yourself."));
        return;
    }

    Channel *channel = user->channel;
    QSet<QByteArray> &bans = m_bans[channel->key];
    if (ban && bans.size() >= m_limits.maxBansPerChannel && !bans.contains(foldCase(victim->name))) {
        sendTo(user, Protocol::errorLine("This channel's ban list is full."));
        return;
    }
    QByteArray text = joined({victim->name, ban ? " was banned by " : " was kicked out of the channel by ",
                              user->name});
    if (!reason.isEmpty())
        text.append(" (").append(reason).append(')');
    text.append('.');
    if (ban)
        bans.insert(foldCase(victim->name));
    broadcast(channel, Protocol::infoLine(text));
    enterChannel(victim, kVoidChannel, true);
}

void GatewayServer::squelch(User *user, const QByteArray &target, bool on)
{
    if (target.isEmpty()) {
        sendTo(user, Protocol::errorLine(on ? "Usage: /squelch <name>" : "Usage: /unsquelch <name>"));
        return;
    }
    const User *other = findUser(target);
    const QByteArray key = foldCase(target);
    // Unsquelching also works for someone who has logged off since.
    if (!other && (on || !user->squelched.contains(key))) {
        sendTo(user, Protocol::errorLine("That user is not logged on."));
        return;
    }
    if (on && other == user) {
        sendTo(user, Protocol::errorLine("You cannot squelch yourself."));
        return;
    }
    const QByteArray &name = other ? other->name : target;
    if (on) {
        user->squelched.insert(key);
        sendTo(user, Protocol::infoLine(joined({name, " has been squelched."})));
    } else {
        user->squelched.remove(key);
        sendTo(user, Protocol::infoLine(joined({name, " has been unsquelched."})));
    }
}

GatewayServer::User *GatewayServer::findUser(const QByteArray &name) const
{
    const auto it = m_users.find(foldCase(name));
    return it == m_users.end() ? nullptr : it->second.get();
}

bool GatewayServer::isBanned(const User *user, const QByteArray &channelName) const
{
    const auto bans = m_bans.constFind(foldCase(channelName));
    return bans != m_bans.constEnd() && bans->contains(foldCase(user->name));
}

bool GatewayServer::isOperator(const User *user)
{
    return user->channel && user->channel->members.first() == user;
}

QByteArrayView GatewayServer::flags(const User *user)
{
    return isOperator(user) ? Protocol::kOperatorFlags : Protocol::kUserFlags;
}

void GatewayServer::enterChannel(User *user, const QByteArray &channelName, bool logChange)
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
        log(user->connection, QStringLiteral("%1 entered channel \"%2\"")
                                      .arg(printable(user->name), printable(channel->name)));
    }
    sendChannelState(user);
    broadcast(channel, Protocol::joinLine(user->name, flags(user)), user);
}

void GatewayServer::leaveChannel(User *user)
{
    Channel *channel = user->channel;
    if (!channel)
        return;
    const QByteArray leaveLine = Protocol::leaveLine(user->name, flags(user));
    const bool wasOperator = isOperator(user);
    channel->members.removeOne(user);
    user->channel = nullptr;
    if (user->waiting) {
        user->waiting = false;
        channel->waiting.removeOne(user);
        makeReady(user->connection);
    }
    if (channel->members.isEmpty()) {
        m_bans.remove(channel->key);
        m_channels.erase(channel->key);
        return;
    }
    // Whoever the others waited for may be the one leaving.
    wakeWaiting(channel);
    broadcast(channel, leaveLine);
    if (wasOperator) {
        broadcast(channel, Protocol::infoLine(joined(
                                   {channel->members.first()->name, " is now the channel operator."})));
    }
}

void GatewayServer::sendChannelState(User *user)
{
    QByteArray lines = Protocol::channelLine(user->channel->name);
    for (const User *member : std::as_const(user->channel->members))
        lines.append(Protocol::userLine(member->name, flags(member)));
    sendTo(user, lines);
}

bool GatewayServer::broadcast(Channel *channel, const QByteArray &line, const User *except,
                              const User *author)
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

bool GatewayServer::sendTo(const User *user, const QByteArray &line)
{
    ++m_deliveries;
    return user->connection->send(line);
}

qsizetype GatewayServer::banCount(const QByteArray &channel) const
{
    return m_bans.value(foldCase(channel)).size();
}

void GatewayServer::log(const ClientConnection *connection, const QString &what)
{
    emit logMessage(connection->peer() + QLatin1Char(' ') + what);
}
