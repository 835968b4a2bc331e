// SPDX-License-Identifier: MIT
// A gateway on a free port with chat clients on real sockets, and the lines they expect.
#pragma once

#include "GatewayServer.h"

#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <deque>
#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace GatewayTest {

inline constexpr int kTimeout = 5000;
using Lines = QByteArrayList;

inline QByteArray loginBytes(const QByteArray &name, const QByteArray &password)
{
    return "\x03\x04\r\n\r\n" + name + "\r\n" + password + "\r\n";
}

// A client that logs in and then never reads, with a tiny receive window so
// that once the kernel's buffers are full the server's queue for it fills
// after a few kilobytes. Returns its descriptor, or -1.
inline int stuckClient(quint16 port, const QByteArray &name = "stuck")
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int window = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const QByteArray login = loginBytes(name, "pw");
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::write(fd, login.constData(), size_t(login.size())) != login.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline QByteArray info(const QByteArray &text) { return "1018 INFO \"" + text + "\"\r\n"; }
inline QByteArray error(const QByteArray &text) { return "1019 ERROR \"" + text + "\"\r\n"; }
inline QByteArray welcome(const QByteArray &name) { return info("Welcome to the Vesk Chat local gateway, " + name + "."); }
inline QByteArray talk(const QByteArray &name, const QByteArray &text) { return "1005 TALK " + name + " 0010 \"" + text + "\"\r\n"; }
inline const QByteArray kDrainMarker = error("Usage: /whois <name>");

// A chat client that records everything the server sends.
struct Client
{
    Client(quint16 port, const QByteArray &clientName) : name(clientName)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(kTimeout);
    }

    void write(const QByteArray &data) { socket.write(data); socket.flush(); }
    bool login(const QByteArray &password = "pw") { write(loginBytes(name, password)); return waitFor(welcome(name)); }

    bool waitFor(const QByteArray &bytes, int timeoutMs = kTimeout)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!received.contains(bytes) && !deadline.hasExpired())
            QSignalSpy(&socket, &QTcpSocket::readyRead).wait(int(deadline.remainingTime()));
        return received.contains(bytes);
    }

    // What came before the answer to a fresh request: the server handles lines
    // in order, so this includes whatever earlier lines caused.
    QByteArray drain()
    {
        write("/whois\r\n");
        if (!waitFor(kDrainMarker))
            return "<no answer> " + received;
        const qsizetype at = received.indexOf(kDrainMarker);
        const QByteArray before = received.left(at);
        received.remove(0, at + kDrainMarker.size());
        return before;
    }

    QTcpSocket socket;
    QByteArray received;
    QByteArray name;
};

// A chat client over TLS that trusts the test certificate ca, made out to localhost.
struct TlsClient
{
    TlsClient(quint16 port, const QByteArray &clientName, const QSslCertificate &ca,
              QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater)
        : name(clientName)
    {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates({ca});
        config.setProtocol(protocol);
        socket.setSslConfiguration(config);
        socket.setPeerVerifyName(QStringLiteral("localhost"));
        QObject::connect(&socket, &QSslSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    }
    // The gateway runs in this thread too, so nothing here may block.
    bool encrypted() { return QTest::qWaitFor([this] { return socket.isEncrypted(); }, kTimeout); }
    // Each piece leaves as its own TLS record, in its own TCP segment when pieces are small.
    void write(const QByteArray &data, qsizetype piece = 1 << 20)
    {
        for (qsizetype at = 0; at < data.size(); at += piece) {
            socket.write(data.mid(at, piece));
            socket.flush();
            if (piece < 16) {
                (void)QTest::qWaitFor([this] { return socket.bytesToWrite() == 0 && socket.encryptedBytesToWrite() == 0; });
                QTest::qWait(1);
            }
        }
    }
    bool login(const QByteArray &password = "pw") { write(loginBytes(name, password)); return waitFor(welcome(name)); }
    bool waitFor(const QByteArray &bytes, int timeoutMs = kTimeout)
    {
        return QTest::qWaitFor([&] { return received.contains(bytes); }, timeoutMs);
    }
    bool waitUnconnected()
    {
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, kTimeout);
    }

    QSslSocket socket;
    QByteArray name;
    QByteArray received;
};

// The server, its clients (destroyed first) and its log.
struct Gateway
{
    std::unique_ptr<GatewayServer> server;
    std::deque<Client> clients;
    QStringList log;

    bool start(const GatewayLimits &limits = {})
    {
        clients.clear();
        server.reset(); // before clearing the log, which it may still write to
        log.clear();
        server = std::make_unique<GatewayServer>(limits);
        QObject::connect(server.get(), &GatewayServer::logMessage, [this](const QString &line) { log << line; });
        return server->listen(QHostAddress::LocalHost, 0);
    }

    Client &add(const QByteArray &name = {}) { return clients.emplace_back(server->serverPort(), name); }

    Client &operator[](QByteArrayView name)
    {
        return *std::find_if(clients.begin(), clients.end(), [name](const Client &c) { return c.name == name; });
    }
    bool logIn(const QByteArrayList &names)
    {
        return std::all_of(names.begin(), names.end(), [this](const QByteArray &name) { return add(name).login(); });
    }

    // Sends one "sender:line" step and returns what the sender got before its next request.
    QByteArray step(const QByteArray &step)
    {
        Client &sender = (*this)[step.left(step.indexOf(':'))];
        sender.write(step.mid(step.indexOf(':') + 1) + "\r\n");
        return sender.drain();
    }
};

} // namespace GatewayTest
