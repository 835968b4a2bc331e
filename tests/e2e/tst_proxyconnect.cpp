// SPDX-License-Identifier: MIT
// The main window reaches the local gateway through a real SOCKS5 proxy
// (microsocks on loopback), names resolved at the proxy; a proxy that is not
// there, or a setting that cannot be read, is named in the chat pane and
// nothing goes out directly.
#include "gui/ChatWindow.h"
#include "settings/Settings.h"
#include "support/LocalGateway.h"
#include "support/SocksProxy.h"

#include <QMessageBox>

class tst_proxyconnect : public QObject
{
    Q_OBJECT

    LocalGateway gateway;

private slots:
    void initTestCase() { gateway.listServers("localhost\r\n"); }
    void init() { QVERIFY(gateway.startFresh()); }
    void cleanup() { gateway.stop(); }

    void throughARealSocksProxy()
    {
        SocksProxy socks;
        if (!socks.start())
            QSKIP(kNoSocksServer);
        SaveSetting(Keys::Proxy, QStringLiteral("socks5://127.0.0.1:%1").arg(socks.port));
        TorvalMain w;
        loginThroughDialogs(w, "alice", "pw", "localhost");
        QTRY_COMPARE_WITH_TIMEOUT(channelCaption(w), QStringLiteral("Lobby  (1)"), 10000);
        // The socket went through the proxy, which was handed the server's name unresolved.
        QCOMPARE(w.link()->socket()->proxy().type(), QNetworkProxy::Socks5Proxy);
        QCOMPARE(w.link()->socket()->proxy().port(), socks.port);
        w.controls().Text1->setText(QStringLiteral("via socks"));
        w.controls().Send->click();
        QVERIFY(chatText(w).contains(QStringLiteral("<alice> via socks")));
    }

    void proxyFaults_data()
    {
        QTest::addColumn<QString>("setting"); // %1: a port nothing listens on
        QTest::addColumn<QString>("message");
        QTest::newRow("proxy not there") << "socks5://127.0.0.1:%1" << "Could not reach the proxy 127.0.0.1:%1";
        QTest::newRow("not a proxy kind the client knows")
            << "http://127.0.0.1:%1" << "The proxy setting cannot be used: only SOCKS5 proxies are supported";
        QTest::newRow("port missing") << "socks5://127.0.0.1" << "the proxy's port is missing";
    }
    void proxyFaults()
    {
        QFETCH(QString, setting);
        QFETCH(QString, message);
        const QString deadPort = QString::number(freeLocalPort());
        SaveSetting(Keys::Proxy, setting.contains(u'%') ? setting.arg(deadPort) : setting);
        TorvalMain w;
        onModal("QMessageBox", [](QWidget *box) { static_cast<QMessageBox *>(box)->accept(); }, 5000);
        loginThroughDialogs(w, "alice", "pw", "localhost");
        const QString expected = message.contains(u'%') ? message.arg(deadPort) : message;
        QTRY_VERIFY2_WITH_TIMEOUT(chatText(w).contains(expected), qPrintable(chatText(w)), 10000);
        // The proxy is named, not the server behind it; nothing reached the gateway directly.
        QVERIFY2(!chatText(w).contains(QStringLiteral("Could not connect to localhost")), qPrintable(chatText(w)));
        QTest::qWait(300);
        QCOMPARE(gateway->connectionCount(), 0);
    }
};

QTEST_MAIN(tst_proxyconnect)
#include "tst_proxyconnect.moc"
