// SPDX-License-Identifier: MIT
// A chat client on a real socket for the gateway tests, and the lines they expect.
#pragma once

#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

namespace GatewayTest {

inline constexpr int kTimeout = 5000;
using Lines = QByteArrayList;
using Replies = QHash<QByteArray, QByteArray>; // client name -> bytes the server sent it

inline QByteArray loginBytes(const QByteArray &name, const QByteArray &password)
{
    return "\x03\x04\r\n\r\n" + name + "\r\n" + password + "\r\n";
}

inline QByteArray info(const QByteArray &text) { return "1018 INFO \"" + text + "\"\r\n"; }
inline QByteArray error(const QByteArray &text) { return "1019 ERROR \"" + text + "\"\r\n"; }
inline QByteArray welcome(const QByteArray &name) { return info("Welcome to the Vesk Chat local gateway, " + name + "."); }
inline const QByteArray kDrainMarker = error("Usage: /whois <name>");

// A chat client on a real socket that records everything the server sends.
struct Client
{
    Client(quint16 port, const QByteArray &clientName) : name(clientName)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(kTimeout);
    }

    void write(const QByteArray &data)
    {
        socket.write(data);
        socket.flush();
    }

    bool login(const QByteArray &password = "pw")
    {
        write(loginBytes(name, password));
        return waitFor(welcome(name));
    }

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

} // namespace GatewayTest
