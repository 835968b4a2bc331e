// SPDX-License-Identifier: MIT
// Shared helpers for tests that need no widgets: a private settings store, a
// fixed clock, and a small TCP peer on localhost that records what the client sends.
#pragma once

#include "time/Clock.h"

#include <QByteArray>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

// Points QSettings and the per-user data folder (chat logs) at a temporary
// folder for the whole test run, so no test reads or writes the user's real
// store or logs. clear() empties the store between tests.
class TestStore
{
public:
    TestStore()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("data"))));
    }
    static void clear()
    {
        QSettings store(QSettings::IniFormat, QSettings::UserScope, "VeskChat", "VeskChat");
        store.clear();
        store.sync();
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// Writes (or replaces) a file, failing loudly when it cannot.
inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// Every timestamp reads 12:34 while this lives.
struct FixedClock {
    FixedClock() { setClockForTesting([] { return QTime(12, 34); }); }
    ~FixedClock() { setClockForTesting({}); }
};

// A one-client TCP peer on 127.0.0.1: accepts the client, records every byte
// it sends, and writes whatever the test wants to it.
class FakeServer : public QObject
{
public:
    FakeServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *peer = m_server.nextPendingConnection()) {
                m_peer = peer;
                connect(peer, &QTcpSocket::readyRead, this, [this, peer] { m_received += peer->readAll(); });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    bool waitForClient() { return QTest::qWaitFor([this] { return !m_peer.isNull(); }, 5000); }
    QTcpSocket *peer() const { return m_peer; }
    // Bytes received so far; take() also forgets them.
    QByteArray received() const { return m_received; }
    QByteArray take() { return std::exchange(m_received, {}); }
    void send(const QByteArray &bytes)
    {
        m_peer->write(bytes);
        m_peer->flush();
    }
    void dropClient() { m_peer->abort(); }
    void close() { m_server.close(); }

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_peer;
    QByteArray m_received;
};
