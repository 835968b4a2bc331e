#include "GatewayServer.h"

#include "ClientConnection.h"
#include "Protocol.h"

#include <QTcpSocket>

using Protocol::foldCase;

namespace {

// Names and channels are raw bytes; keep control characters out of the log.
QString printable(QByteArrayView bytes)
{
    QString text = QString::fromUtf8(bytes);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
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

GatewayServer::GatewayServer(QObject *parent)
    : QObject(parent), m_maxPendingOutput(ClientConnection::DefaultMaxPendingOutput)
{
    connect(&m_tcpServer, &QTcpServer::newConnection, this, &GatewayServer::onNewConnection);
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
    return m_tcpServer.listen(address, port);
}

void GatewayServer::onNewConnection()
{
    while (QTcpSocket *socket = m_tcpServer.nextPendingConnection()) {
        auto *connection = new ClientConnection(socket, this);
        connection->setMaxPendingOutput(m_maxPendingOutput);
        connect(connection, &ClientConnection::loginRequested, this,
                [this, connection](const QByteArray &name, const QByteArray &password) {
                    onLoginRequested(connection, name, password);
                });
        connect(connection, &ClientConnection::lineReceived, this,
                [this, connection](const QByteArray &line) { onLine(connection, line); });
        connect(connection, &ClientConnection::handshakeFailed, this,
                [this, connection](const QString &reason) {
                    log(connection, QStringLiteral("refused: %1").arg(reason));
                });
        connect(connection, &ClientConnection::closed, this,
                [this, connection] { onClosed(connection); });
        log(connection, QStringLiteral("connected"));
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
    m_users.emplace(foldCase(user->name), std::move(owned));
    m_userByConnection.insert(connection, user);
    connection->acceptLogin();
    log(connection, QStringLiteral("logged in as %1").arg(printable(user->name)));

    enterChannel(user, isBanned(user, LobbyChannel) ? VoidChannel : LobbyChannel, false);
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

void GatewayServer::onLine(ClientConnection *connection, const QByteArray &line)
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
    if (User *user = m_userByConnection.take(connection)) {
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
    broadcast(user->channel, Protocol::talkLine(user->name, flags(user), text), user, user);
}

void GatewayServer::emote(User *user, const QByteArray &text)
{
    if (text.isEmpty())
        return;
    broadcast(user->channel, Protocol::emoteLine(user->name, flags(user), text), nullptr, user);
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
    QByteArray text = joined({victim->name, ban ? " was banned by " : " was kicked out of the channel by ",
                              user->name});
    if (!reason.isEmpty())
        text.append(" (").append(reason).append(')');
    text.append('.');
    if (ban)
        m_bans[channel->key].insert(foldCase(victim->name));
    broadcast(channel, Protocol::infoLine(text));
    enterChannel(victim, VoidChannel, true);
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
    return isOperator(user) ? Protocol::OperatorFlags : Protocol::UserFlags;
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
    if (channel->members.isEmpty()) {
        m_channels.erase(channel->key);
        return;
    }
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

void GatewayServer::broadcast(Channel *channel, const QByteArray &line, const User *except,
                              const User *author)
{
    const QByteArray authorKey = author ? foldCase(author->name) : QByteArray();
    for (const User *member : std::as_const(channel->members)) {
        if (member == except || (author && member->squelched.contains(authorKey)))
            continue;
        sendTo(member, line);
    }
}

void GatewayServer::sendTo(const User *user, const QByteArray &line)
{
    user->connection->send(line);
}

void GatewayServer::log(const ClientConnection *connection, const QString &what)
{
    emit logMessage(connection->peer() + QLatin1Char(' ') + what);
}
