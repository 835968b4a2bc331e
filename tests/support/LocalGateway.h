// SPDX-License-Identifier: MIT
// The real chat gateway on a free loopback port, for tests that reach it over
// TCP, with the empty settings store and fixed clock every test starts from.
#pragma once

#include "GatewayServer.h"
#include "session/ChatSession.h"
#include "session/GatewayPort.h"
#include "support/TestSupport.h"
#include "ui/TorvalMain.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

class LocalGateway
{
public:
    // For init(): an empty store, then a gateway on a new port.
    bool startFresh()
    {
        TestStore::clear();
        port = 0;
        return listen();
    }
    // Listens again on the port of the last run, as a server that comes back does;
    // Connect in a window dials that port.
    bool listen()
    {
        server = std::make_unique<GatewayServer>();
        if (!server->listen(QHostAddress::LocalHost, port))
            return false;
        port = server->serverPort();
        setGatewayPortForTesting(port);
        return true;
    }
    // For cleanup() too: answers to dialogs that a test left armed are dropped with it.
    void stop()
    {
        cancelPendingModalAnswers();
        server.reset();
    }
    // The server picker's list, for tests that log in through the dialogs.
    void listServers(const QByteArray &entries)
    {
        if (!m_lists)
            m_lists = std::make_unique<TestListFolder>();
        m_lists->write("Servers.txt", entries);
    }
    GatewayServer *operator->() const { return server.get(); }

    TestStore store;
    FixedClock clock;
    std::unique_ptr<GatewayServer> server;
    quint16 port = 0;

private:
    std::unique_ptr<TestListFolder> m_lists;
};

// Presses Connect with its dialogs answered: server, then the login name and password.
inline void loginThroughDialogs(TorvalMain &window, const QString &name, const QString &password,
                                const QString &server = QStringLiteral("127.0.0.1"))
{
    answerConnectDialogs(name, password, "Login", server);
    window.controls().Connect->click();
}

inline QString chatText(const TorvalMain &window) { return window.controls().Text2->toPlainText(); }
inline QString channelCaption(const TorvalMain &window) { return window.controls().Channel->text(); }

// Opens session on the gateway at port and logs in, without a window.
inline void loginSession(ChatSession &session, quint16 port, const QString &name,
                         const QString &password = QStringLiteral("pw"))
{
    session.setServerAddress(QStringLiteral("127.0.0.1"));
    session.setPort(port);
    session.setLoginName(name);
    session.setLoginPassword(password);
    session.open();
    session.login();
}
