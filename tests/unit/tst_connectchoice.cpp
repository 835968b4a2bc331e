// SPDX-License-Identifier: MIT
// What the session makes of the server entry and the proxy setting before it
// dials, and what a plain link makes of a server that answers in TLS.
#include "session/ChatLink.h"
#include "session/ChatSession.h"
#include "settings/Settings.h"
#include "support/TestCore.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class tst_connectchoice : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;

private slots:
    void init() { TestStore::clear(); }

    void refusedBeforeDialling_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("proxy");
        QTest::addColumn<QString>("shown");
        QTest::newRow("entry without a host") << "tls://" << "" << "the host name is missing";
        QTest::newRow("port out of range") << "chat.example.org:70000" << "" << "70000";
        QTest::newRow("empty entry") << "" << "" << "no server address was given";
        QTest::newRow("proxy of an unknown kind") << "127.0.0.1" << "http://127.0.0.1:3128"
                                                  << "only SOCKS5 proxies are supported";
        QTest::newRow("proxy without a port") << "tls://127.0.0.1" << "socks5://127.0.0.1"
                                              << "the proxy's port is missing";
    }
    void refusedBeforeDialling()
    {
        QFETCH(QString, server);
        QFETCH(QString, proxy);
        QFETCH(QString, shown);
        SaveSetting(Keys::Proxy, proxy);
        ChatSession session;
        QStringList notices;
        connect(&session, &ChatSession::linesReady, this, [&notices](const ShownLines &batch) {
            for (const ShownLine &line : batch.lines())
                notices << batch.body(line).toString();
        });
        session.setServerAddress(server);
        QVERIFY(!session.open());
        QCOMPARE(session.link()->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!session.IsConnected());
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(shown), qPrintable(notices.first()));
        if (proxy.isEmpty())
            QCOMPARE(notices.first(), serverEntryRefusal(parseServerEntry(server)));
    }

    void plainEntriesDialAsBefore_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("usesTestPort");
        QTest::newRow("bare address") << "127.0.0.1" << true;
        QTest::newRow("address with port") << "127.0.0.1:%1" << false;
    }
    void plainEntriesDialAsBefore()
    {
        QFETCH(QString, server);
        QFETCH(bool, usesTestPort);
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        ChatSession session;
        if (usesTestPort)
            session.setPort(peer.serverPort());
        else
            session.setPort(1); // the entry's own port wins
        session.setServerAddress(server.contains(u'%') ? server.arg(peer.serverPort()) : server);
        QVERIFY(session.open());
        session.setLoginName(QStringLiteral("alice"));
        session.setLoginPassword(QStringLiteral("pw"));
        session.login();
        QVERIFY(peer.waitForNewConnection(5000));
        QTcpSocket *client = peer.nextPendingConnection();
        QTRY_COMPARE(client->bytesAvailable(), qint64(6 + 7 + 4));
        QCOMPARE(client->readAll(), QByteArray("\x03\x04\r\n\r\nalice\r\npw\r\n"));
        QVERIFY(!session.isSecure());
    }

    void plainLinkToATlsServer_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("named");
        QTest::newRow("TLS alert") << QByteArray("\x15\x03\x03\x00\x02\x02\x46", 7) << true;
        QTest::newRow("TLS handshake record") << QByteArray("\x16\x03\x01\x00\x05hello", 10) << true;
        QTest::newRow("an ordinary line") << QByteArray("1018 INFO \"hello\"\r\n") << false;
    }
    void plainLinkToATlsServer()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, named);
        QTcpServer peer;
        QVERIFY(peer.listen(QHostAddress::LocalHost, 0));
        ChatLink link;
        QSignalSpy failed(&link, &ChatLink::connectFailed);
        QSignalSpy lost(&link, &ChatLink::linkLost);
        link.connectTo(QStringLiteral("127.0.0.1"), peer.serverPort());
        QVERIFY(peer.waitForNewConnection(5000));
        QTcpSocket *client = peer.nextPendingConnection();
        client->write(answer);
        if (named) {
            QTRY_COMPARE(failed.size(), 1);
            QVERIFY2(failed.first().first().toString().contains(QStringLiteral("tls://127.0.0.1:%1").arg(peer.serverPort())),
                     qPrintable(failed.first().first().toString()));
            QCOMPARE(link.state(), QAbstractSocket::UnconnectedState);
        } else {
            QTest::qWait(200);
            QCOMPARE(failed.size(), 0);
            QCOMPARE(link.state(), QAbstractSocket::ConnectedState);
        }
        QCOMPARE(lost.size(), 0);
    }
};

QTEST_MAIN(tst_connectchoice)
#include "tst_connectchoice.moc"
