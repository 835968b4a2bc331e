// SPDX-License-Identifier: MIT
// A real nats-server with JetStream on free ports of 127.0.0.1, its store in
// a temporary folder, for the life of one test.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

class NatsTestServer
{
public:
    ~NatsTestServer() { stop(); }

    static QString program()
    {
        QString path = QStandardPaths::findExecutable(QStringLiteral("nats-server"));
        if (path.isEmpty()) {
            path = QStandardPaths::findExecutable(QStringLiteral("nats-server"),
                                                  {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        }
        return path;
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    // Starts on the given port (a free one when 0) and waits until it accepts clients.
    bool start(quint16 port = 0)
    {
        if (port)
            m_port = port;
        if (!m_port)
            m_port = freePort();
        if (!m_monitorPort)
            m_monitorPort = freePort();
        m_process.setProgram(program());
        m_process.setArguments({QStringLiteral("-js"), QStringLiteral("-a"), QStringLiteral("127.0.0.1"),
                                QStringLiteral("-p"), QString::number(m_port),
                                QStringLiteral("-m"), QString::number(m_monitorPort),
                                QStringLiteral("-sd"), m_store.path()});
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(100) && !varz().isEmpty())
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("nats://127.0.0.1:%1").arg(m_port); }

    // The server's counters (in_msgs, out_msgs ...) from its monitoring port.
    QJsonObject varz() const { return monitor("/varz"); }
    QJsonObject monitor(const char *path) const
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_monitorPort);
        if (!socket.waitForConnected(1000))
            return {};
        socket.write(QByteArray("GET ") + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray reply;
        while (socket.waitForReadyRead(1000))
            reply += socket.readAll();
        reply += socket.readAll();
        const qsizetype body = reply.indexOf("\r\n\r\n");
        if (body < 0)
            return {};
        return QJsonDocument::fromJson(reply.mid(body + 4)).object();
    }
    qint64 outMessages() const { return qint64(varz().value(QStringLiteral("out_msgs")).toDouble()); }

private:
    QProcess m_process;
    QTemporaryDir m_store;
    quint16 m_port = 0;
    quint16 m_monitorPort = 0;
};

#define REQUIRE_NATS_SERVER()                                                                  \
    do {                                                                                       \
        if (NatsTestServer::program().isEmpty())                                               \
            QSKIP("nats-server is not installed (scripts/setup.sh installs it)");              \
    } while (false)
