// SPDX-License-Identifier: MIT
// The main window reaches the local gateway through a real SOCKS5 proxy
// (microsocks on loopback), names resolved at the proxy; a proxy that is not
// there, or a setting that cannot be read, is named in the chat pane and
// nothing goes out directly.
#include "GatewayServer.h"
#include "gui/ChatWindow.h"
#include "settings/Settings.h"

#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class Microsocks
{
public:
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("microsocks"));
        if (program.isEmpty())
            return false;
        port = freePort();
        process.start(program, {"-i", "127.0.0.1", "-p", QString::number(port)});
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor([this] {
            QTcpSocket probe;
            probe.setProxy(QNetworkProxy::NoProxy);
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        }, 5000);
    }
    ~Microsocks()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    QProcess process;
    quint16 port = 0;
};

} // namespace

class tst_proxyconnect : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;
    TestListFolder lists;
    std::unique_ptr<GatewayServer> gateway;

    static void connectTo(TorvalMain &window, const QString &entry)
    {
        onModal("frmServers", [entry](QWidget *picker) {
            control<QLineEdit>(picker, "txtserver")->setText(entry);
            control<QPushButton>(picker, "Command1")->click();
        });
        onModal("FrmLogin", [](QWidget *dialog) {
            control<QLineEdit>(dialog, "UserNamet")->setText(QStringLiteral("alice"));
            control<QLineEdit>(dialog, "PassWordt")->setText(QStringLiteral("pw"));
            control<QPushButton>(dialog, "Login")->click();
        }, 2000);
        window.controls().Connect->click();
    }
    static QString chat(TorvalMain &w) { return w.controls().Text2->toPlainText(); }
    static QString caption(TorvalMain &w) { return w.controls().Channel->text(); }

private slots:
    void initTestCase() { lists.write("Servers.txt", "localhost\r\n"); }
    void init()
    {
        TestStore::clear();
        gateway = std::make_unique<GatewayServer>();
        QVERIFY(gateway->listen(QHostAddress::LocalHost, 0));
        setGatewayPortForTesting(gateway->serverPort());
    }
    void cleanup()
    {
        cancelPendingModalAnswers();
        gateway.reset();
    }

    void throughARealSocksProxy()
    {
        Microsocks socks;
        if (!socks.start())
            QSKIP("microsocks is not installed (Debian package microsocks)");
        SaveSetting(Keys::Proxy, QStringLiteral("socks5://127.0.0.1:%1").arg(socks.port));
        TorvalMain w;
        connectTo(w, QStringLiteral("localhost"));
        QTRY_COMPARE_WITH_TIMEOUT(caption(w), QStringLiteral("Lobby  (1)"), 10000);
        // The socket went through the proxy, which was handed the server's name unresolved.
        QCOMPARE(w.link()->socket()->proxy().type(), QNetworkProxy::Socks5Proxy);
        QCOMPARE(w.link()->socket()->proxy().port(), socks.port);
        w.controls().Text1->setText(QStringLiteral("via socks"));
        w.controls().Send->click();
        QVERIFY(chat(w).contains(QStringLiteral("<alice> via socks")));
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
        const QString deadPort = QString::number(freePort());
        SaveSetting(Keys::Proxy, setting.contains(u'%') ? setting.arg(deadPort) : setting);
        TorvalMain w;
        onModal("QMessageBox", [](QWidget *box) { static_cast<QMessageBox *>(box)->accept(); }, 5000);
        connectTo(w, QStringLiteral("localhost"));
        const QString expected = message.contains(u'%') ? message.arg(deadPort) : message;
        QTRY_VERIFY2_WITH_TIMEOUT(chat(w).contains(expected), qPrintable(chat(w)), 10000);
        // The proxy is named, not the server behind it; nothing reached the gateway directly.
        QVERIFY2(!chat(w).contains(QStringLiteral("Could not connect to localhost")), qPrintable(chat(w)));
        QTest::qWait(300);
        QCOMPARE(gateway->connectionCount(), 0);
    }
};

QTEST_MAIN(tst_proxyconnect)
#include "tst_proxyconnect.moc"
