// SPDX-License-Identifier: MIT
#include "GatewayServer.h"

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
                if (m_world.logIn(connection, name, password))
                    m_listener.markLoggedIn(connection);
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
