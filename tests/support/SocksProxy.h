// SPDX-License-Identifier: MIT
// A real SOCKS5 server on loopback (Debian's microsocks), started for one test
// and stopped after it.
#pragma once

#include <QNetworkProxy>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A port on 127.0.0.1 that nothing listens on (for a moment at least).
inline quint16 freeLocalPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline constexpr char kNoSocksServer[] = "microsocks is not installed (Debian package microsocks)";

class SocksProxy
{
public:
    // Starts microsocks on a free port with extra arguments (-u, -P ...);
    // false when it is not installed or does not come up.
    bool start(const QStringList &extra = {})
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("microsocks"));
        if (program.isEmpty())
            return false;
        port = freeLocalPort();
        m_process.start(program, QStringList{"-i", "127.0.0.1", "-p", QString::number(port)} + extra);
        if (!m_process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor([this] {
            QTcpSocket probe;
            probe.setProxy(QNetworkProxy::NoProxy);
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        }, 5000);
    }
    ~SocksProxy()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    quint16 port = 0;

private:
    QProcess m_process;
};
