// SPDX-License-Identifier: MIT
#include "session/ServerEntry.h"

#include <QTest>

class tst_serverentry : public QObject
{
    Q_OBJECT

private slots:
    void understood_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("secure");
        QTest::addColumn<QString>("hostPort");
        QTest::newRow("plain name") << "chat.example.org" << "chat.example.org" << 6112 << false << "chat.example.org:6112";
        QTest::newRow("plain address") << "127.0.0.1" << "127.0.0.1" << 6112 << false << "127.0.0.1:6112";
        QTest::newRow("stored default") << "0" << "0" << 6112 << false << "0:6112";
        QTest::newRow("blanks around") << "  127.0.0.1 \t" << "127.0.0.1" << 6112 << false << "127.0.0.1:6112";
        QTest::newRow("plain with port") << "localhost:7000" << "localhost" << 7000 << false << "localhost:7000";
        QTest::newRow("name case folded") << "Chat.Example.ORG" << "chat.example.org" << 6112 << false << "chat.example.org:6112";
        QTest::newRow("final dot") << "example.org." << "example.org." << 6112 << false << "example.org.:6112";
        QTest::newRow("secure default port") << "tls://chat.example.org" << "chat.example.org" << 6113 << true << "chat.example.org:6113";
        QTest::newRow("secure with port") << "tls://localhost:443" << "localhost" << 443 << true << "localhost:443";
        QTest::newRow("scheme in capitals") << "TLS://localhost" << "localhost" << 6113 << true << "localhost:6113";
        QTest::newRow("highest port") << "h:65535" << "h" << 65535 << false << "h:65535";
        QTest::newRow("IPv6 bracketed") << "[::1]" << "::1" << 6112 << false << "[::1]:6112";
        QTest::newRow("IPv6 with port") << "[::1]:7000" << "::1" << 7000 << false << "[::1]:7000";
        QTest::newRow("IPv6 secure") << "tls://[2001:db8::1]" << "2001:db8::1" << 6113 << true << "[2001:db8::1]:6113";
        QTest::newRow("IPv6 long form shortened") << "[0:0:0:0:0:0:0:1]:6113" << "::1" << 6113 << false << "[::1]:6113";
        QTest::newRow("IPv6 bare") << "::1" << "::1" << 6112 << false << "[::1]:6112";
        QTest::newRow("name in another script") << QString::fromUtf8("bücher.example") << "xn--bcher-kva.example" << 6112 << false
                                                << "xn--bcher-kva.example:6112";
        QTest::newRow("underscore") << "my_host" << "my_host" << 6112 << false << "my_host:6112";
    }

    void understood()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(bool, secure);
        QFETCH(QString, hostPort);
        const ServerEntry entry = parseServerEntry(text);
        QVERIFY2(entry.isValid(), qPrintable(entry.problem));
        QCOMPARE(entry.raw, text);
        QCOMPARE(entry.host, host);
        QCOMPARE(entry.port, port);
        QCOMPARE(entry.secure, secure);
        QCOMPARE(entry.hostPort(), hostPort);
        // The canonical form reads back as the same entry.
        const ServerEntry again = parseServerEntry(entry.canonical());
        QCOMPARE(again.host, host);
        QCOMPARE(again.port, port);
        QCOMPARE(again.secure, secure);
    }

    void notUnderstood_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        QTest::newRow("empty") << "" << "no server address was given";
        QTest::newRow("blanks only") << "   " << "no server address was given";
        QTest::newRow("other scheme") << "https://example.org" << "only tls:// may stand before the host name, not \"https://\"";
        QTest::newRow("scheme only") << "tls://" << "the host name is missing";
        QTest::newRow("port only") << ":6112" << "the host name is missing";
        QTest::newRow("colon without port") << "localhost:" << "the port is missing after the colon";
        QTest::newRow("port zero") << "localhost:0" << "the port must be a number from 1 to 65535, not \"0\"";
        QTest::newRow("port too high") << "localhost:65536" << "the port must be a number from 1 to 65535, not \"65536\"";
        QTest::newRow("port far too long") << "localhost:0000000006112" << "the port must be a number from 1 to 65535, not \"0000000006112\"";
        QTest::newRow("port with sign") << "localhost:+80" << "the port must be a number from 1 to 65535, not \"+80\"";
        QTest::newRow("port not a number") << "tls://localhost:ssl" << "the port must be a number from 1 to 65535, not \"ssl\"";
        QTest::newRow("two ports") << "host:1:2" << "an IPv6 address is written in brackets, as in [::1]:6112";
        QTest::newRow("space inside") << "my server" << "a host name cannot contain spaces";
        QTest::newRow("path") << "tls://host/chat" << "nothing may follow the host name and port";
        QTest::newRow("user part") << "bob@host" << "\"@\" cannot appear in a host name";
        QTest::newRow("control character") << QString("host\x01name") << "it contains a control character";
        QTest::newRow("empty label") << "a..b" << "\"a..b\" is not a valid host name";
        QTest::newRow("label too long") << QString(64, 'a') + ".org" << "\"" + QString(64, 'a') + ".org\" is not a valid host name";
        QTest::newRow("unclosed bracket") << "[::1" << "the closing ] of the IPv6 address is missing";
        QTest::newRow("bracketed non-address") << "[localhost]" << "\"localhost\" is not an IPv6 address";
        QTest::newRow("bracketed IPv4") << "[127.0.0.1]" << "\"127.0.0.1\" is not an IPv6 address";
        QTest::newRow("junk after bracket") << "[::1]x" << "only :port may follow the IPv6 address";
        QTest::newRow("bracket without port") << "[::1]:" << "the port is missing after the colon";
    }

    void notUnderstood()
    {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        const ServerEntry entry = parseServerEntry(text);
        QVERIFY(!entry.isValid());
        QCOMPARE(entry.problem, problem);
        QCOMPARE(entry.raw, text);
        QVERIFY(entry.host.isEmpty());
        QCOMPARE(serverEntryRefusal(entry),
                 "\"" + text + "\" is not a server address the client understands: " + problem + ".");
    }

    void refusalQuotesALongEntryCut()
    {
        const ServerEntry entry = parseServerEntry(QString(5000, 'x') + " y");
        const QString refusal = serverEntryRefusal(entry);
        QVERIFY(refusal.size() < 300);
        QVERIFY(refusal.endsWith("a host name cannot contain spaces."));
    }

    void plainPortComesFromTheCaller()
    {
        QCOMPARE(parseServerEntry("127.0.0.1", 40000).port, 40000);
        QCOMPARE(parseServerEntry("127.0.0.1:7000", 40000).port, 7000);
        QCOMPARE(parseServerEntry("tls://127.0.0.1", 40000).port, 6113);
    }

    void label_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("label");
        QTest::newRow("plain shown as it is") << " 127.0.0.1 " << " 127.0.0.1 ";
        QTest::newRow("secure marked") << "tls://chat.example.org" << "tls://chat.example.org  (secure)";
        QTest::newRow("not understood shown as it is") << "tls://a b" << "tls://a b";
    }

    void label()
    {
        QFETCH(QString, text);
        QFETCH(QString, label);
        QCOMPARE(serverEntryLabel(parseServerEntry(text)), label);
    }
};

QTEST_GUILESS_MAIN(tst_serverentry)
#include "tst_serverentry.moc"
