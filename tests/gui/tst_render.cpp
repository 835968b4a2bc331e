// SPDX-License-Identifier: MIT
// Renders every window to PNG under the build folder (screenshots/), so that
// anyone can look at them; checks only that each picture was written.
#include "ui/FrmLogin.h"
#include "support/TestSupport.h"
#include "ui/FrmChannel.h"
#include "ui/FrmOpt.h"
#include "settings/ListFile.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"
#include "ui/frmAbout.h"
#include "ui/frmHelp.h"
#include "ui/frmServers.h"

#include <QDir>
#include <QFile>

class tst_render : public QObject
{
    Q_OBJECT

    TestStore store;
    TestListFolder lists;
    QDir out;

    void save(QWidget *window, const QString &name)
    {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QString path = out.filePath(name + QStringLiteral(".png"));
        QVERIFY(window->grab().save(path));
        QVERIFY(QFile::exists(path));
    }

private slots:
    void initTestCase()
    {
        const QByteArray bin = qgetenv("VESK_BIN_DIR");
        out = QDir(bin.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(bin) + QStringLiteral("/.."));
        out.mkpath(QStringLiteral("screenshots"));
        out.cd(QStringLiteral("screenshots"));
        lists.write("Servers.txt", "127.0.0.1\r\nchat.example.org\r\n");
        lists.write("Channels.txt", "Lobby\r\nPublic Chat 1\r\n");
    }

    void mainWindow_data()
    {
        QTest::addColumn<int>("profile");
        QTest::addColumn<QSize>("screen");
        QTest::newRow("640") << 640 << QSize(640, 480);
        QTest::newRow("800") << 800 << QSize(800, 600);
        QTest::newRow("1024") << 1024 << QSize(1024, 768);
        QTest::newRow("higher") << 1200 << QSize(1600, 1200);
    }

    void mainWindow()
    {
        QFETCH(int, profile);
        QFETCH(QSize, screen);
        ScreenSize = qint16(profile);
        TorvalMain w;
        w.resize(screen);
        save(&w, QStringLiteral("TorvalMain-%1x%2").arg(screen.width()).arg(screen.height()));
    }

    void dialogs()
    {
        TorvalMain main;
        FrmOpt options;
        save(&options, QStringLiteral("FrmOpt"));
        FrmLogin login(&main);
        save(&login, QStringLiteral("FrmLogin"));
        frmServers servers;
        save(&servers, QStringLiteral("frmServers"));
        auto *channel = new FrmChannel(&main);
        save(channel, QStringLiteral("FrmChannel"));
        channel->close();
        auto *about = new frmAbout;
        save(about, QStringLiteral("frmAbout"));
        about->close();
        auto *help = new frmHelp;
        save(help, QStringLiteral("frmHelp"));
        help->close();
    }
};

QTEST_MAIN(tst_render)
#include "tst_render.moc"
