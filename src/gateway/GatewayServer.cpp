// SPDX-License-Identifier: MIT
#include "GatewayServer.h"

#include "Names.h"

#include <QTimer>

GatewayServer::GatewayServer(const GatewayLimits &limits, QObject *parent)
    : QObject(parent),
      m_listener(limits),
      m_scheduler(limits, m_listener.connections(), m_listener.totals()),
      m_world(limits, m_scheduler)
{
    m_scheduler.setLineHandler(
            [this](ClientConnection *connection, QByteArrayView line) { return m_world.handleLine(connection, line); });
    connect(&m_listener, &Listener::accepted, this, &GatewayServer::onAccepted);
    connect(&m_listener, &Listener::logMessage, this, &GatewayServer::logMessage);
    connect(&m_world, &ChatWorld::logMessage, this, &GatewayServer::logMessage);
    connect(&m_world, &ChatWorld::loggedIn, this,
            [this](ClientConnection *connection) { m_listener.markLoggedIn(connection); });
}

QString GatewayServer::joinCluster(const QStringList &urls, const QByteArray &node, int nameTtlMs,
                                   int maxPendingMessages)
{
    if (m_link)
        return QStringLiteral("already in a cluster");
    ClusterSettings settings;
    settings.urls = urls;
    settings.node = node;
    settings.maxPendingMessages = maxPendingMessages;
    auto link = std::make_unique<ClusterLink>(settings);
    if (const QByteArray problem = link->settingsProblem(); !problem.isEmpty())
        return QString::fromUtf8(problem);
    NameRegistrySettings names;
    names.urls = urls;
    names.node = node;
    names.ttlMs = nameTtlMs;
    m_registry = std::make_unique<NameRegistry>(names);
    m_link = std::move(link);
    m_world.attachCluster(m_link.get(), m_registry.get());
    m_registry->start();
    m_link->start();
    // Said once; the link keeps trying meanwhile and logs when it gets through.
    QTimer::singleShot(3000, m_link.get(), [this, where = urls.join(u',')] {
        if (!m_link->isUp())
            emit logMessage(QStringLiteral("cluster: cannot reach NATS at %1 yet; serving local users and still trying")
                                    .arg(where));
    });
    return {};
}

void GatewayServer::abandonCluster()
{
    if (m_link)
        m_link->abandon();
    if (m_registry)
        m_registry->abandon();
}

GatewayServer::~GatewayServer()
{
    // Before the world and the scheduler, which know the connections, go.
    m_listener.closeAll();
}

void GatewayServer::onAccepted(ClientConnection *connection)
{
    m_scheduler.watch(connection);
    connect(connection, &ClientConnection::loginRequested, this,
            [this, connection](const QByteArray &name, const QByteArray &password) {
                onLoginRequested(connection, name, password);
            });
    connect(connection, &ClientConnection::channelReleased, this,
            [this, connection] { m_world.readerCaughtUp(connection); });
    connect(connection, &ClientConnection::closed, this, [this, connection] { onClosed(connection); });
}

void GatewayServer::onClosed(ClientConnection *connection)
{
    m_listener.forget(connection, m_world.isLoggedIn(connection));
    m_scheduler.forget(connection);
    m_world.connectionClosed(connection);
    connection->deleteLater();
}

bool GatewayServer::listenTls(const QHostAddress &address, quint16 port, std::unique_ptr<TlsServerContext> context)
{
    m_tlsContext = std::move(context);
    return m_listener.listenTls(address, port, m_tlsContext.get());
}

void GatewayServer::setAccounts(Accounts accounts, const LoginGate::Options &options)
{
    m_gate = std::make_unique<LoginGate>(std::move(accounts), options);
}

// Names the world refuses anyway, and the anonymous names, cost no password
// check; every other name waits for the gate's verdict, still counting as an
// unfinished login meanwhile.
void GatewayServer::onLoginRequested(ClientConnection *connection, const QByteArray &name,
                                     const QByteArray &password)
{
    if (!m_gate || Names::isAnonymousName(name) || !m_world.checkLogin(name, password).isEmpty()) {
        finishLogin(connection, name, password);
        return;
    }
    m_gate->check(connection, connection->address(), name, password,
                  [this, connection, name, password](const LoginGate::Verdict &verdict) {
                      if (connection->isClosing())
                          return; // gone while its password was checked
                      if (verdict.result != LoginGate::Result::Accepted) {
                          emit logMessage(QStringLiteral("%1 login refused for %2: %3")
                                                  .arg(connection->peer(), QString::fromLatin1(name),
                                                       verdict.logReason));
                          connection->refuse(verdict.message);
                          return;
                      }
                      finishLogin(connection, name, password);
                  });
}

void GatewayServer::finishLogin(ClientConnection *connection, const QByteArray &name, const QByteArray &password)
{
    // The world marks the connection logged in through loggedIn, once the
    // name is also the user's in the network.
    m_world.logIn(connection, name, password);
}
