// SPDX-License-Identifier: MIT
#include "Listener.h"

#include "protocol/EventBuilder.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Receive buffer of client sockets (inherited from the listening socket). The
// kernel would otherwise grow it to megabytes, and a sender's lines would wait
// there long after the server stopped reading them; small, a fast sender's own
// writes block instead.
constexpr int kReceiveBufferBytes = 8 * 1024;
constexpr int kListenBacklog = 1024;

} // namespace

Listener::Listener(const GatewayLimits &limits, QObject *parent) : QObject(parent), m_limits(limits)
{
    m_tcpServer.accepted = [this](qintptr descriptor) { onIncoming(descriptor, false); };
    m_tlsServer.accepted = [this](qintptr descriptor) { onIncoming(descriptor, true); };
}

Listener::~Listener()
{
    closeAll();
}

bool Listener::listen(const QHostAddress &address, quint16 port)
{
    return listenOn(m_tcpServer, address, port);
}

bool Listener::listenTls(const QHostAddress &address, quint16 port, const TlsServerContext *context)
{
    m_tlsContext = context;
    return listenOn(m_tlsServer, address, port);
}

bool Listener::listenOn(TcpServer &server, const QHostAddress &address, quint16 port)
{
    // A burst of connections (a flood of idle TLS handshakes, everyone
    // reconnecting after an outage) waits in the kernel's queue rather than
    // in SYN retries; the kernel caps it at net.core.somaxconn.
    server.setListenBacklogSize(kListenBacklog);
    if (!server.listen(address, port))
        return false;
    const int size = kReceiveBufferBytes;
    ::setsockopt(int(server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    return true;
}

void Listener::onIncoming(qintptr descriptor, bool tls)
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
        // On the TLS port there is no channel to say it in yet.
        char discard[4096];
        while (::recv(fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
        }
        const QByteArray line = Protocol::infoLine(problem);
        if (!tls)
            ::send(fd, line.constData(), size_t(line.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        ::close(fd);
        emit logMessage(QStringLiteral("%1 refused: %2").arg(address.toString(), QString::fromUtf8(problem)));
        return;
    }
    ++count.connections;
    ++count.unfinished;

    auto *connection = new ClientConnection(fd, &m_totals, this);
    m_connections.insert(connection);
    connection->setQueueLimit(m_limits.maxQueueBytes, m_limits.queueHoldMs, m_limits.queueGraceMs);
    connection->startLoginTimer(m_limits.loginTimeoutMs);
    if (tls)
        connection->startTls(std::make_unique<TlsSession>(*m_tlsContext), m_limits.tlsHandshakeTimeoutMs);
    connect(connection, &ClientConnection::handshakeFailed, this,
            [this, connection](const QString &reason) { log(connection, QStringLiteral("refused: %1").arg(reason)); });
    emit accepted(connection);
    log(connection, tls ? QStringLiteral("connected (TLS)") : QStringLiteral("connected"));
}

QByteArray Listener::connectionProblem(const AddressCount &count) const
{
    if (m_connections.size() >= m_limits.maxConnections)
        return "The server is full. Please try again later.";
    if (count.connections >= m_limits.maxPerAddress)
        return "Too many connections from your address.";
    if (count.unfinished >= m_limits.maxUnfinishedPerAddress)
        return "Too many unfinished logins from your address.";
    return {};
}

void Listener::markLoggedIn(const ClientConnection *connection)
{
    --m_addresses[connection->address()].unfinished;
}

void Listener::forget(ClientConnection *connection, bool loggedIn)
{
    m_connections.remove(connection);
    const auto count = m_addresses.find(connection->address());
    if (count == m_addresses.end())
        return;
    --count->connections;
    if (!loggedIn)
        --count->unfinished;
    if (count->connections == 0)
        m_addresses.erase(count);
}

void Listener::closeAll()
{
    // Connections must not call back into a half-destroyed server.
    const auto connections = findChildren<ClientConnection *>(Qt::FindDirectChildrenOnly);
    for (ClientConnection *connection : connections) {
        connection->disconnect();
        delete connection;
    }
    m_connections.clear();
}

void Listener::log(const ClientConnection *connection, const QString &what)
{
    emit logMessage(connection->peer() + QLatin1Char(' ') + what);
}
