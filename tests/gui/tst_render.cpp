// SPDX-License-Identifier: MIT
// Renders every window to PNG under the build folder (screenshots/), under the
// system palette and a dark one, so that anyone can look at them; checks only
// that each picture was written.
#include "gui/ChatWindow.h"
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
    QPalette systemPalette;

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
        systemPalette = QApplication::palette();
        const QByteArray bin = qgetenv("VESK_BIN_DIR");
        out = QDir(bin.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(bin) + QStringLiteral("/.."));
        out.mkpath(QStringLiteral("screenshots"));
        out.cd(QStringLiteral("screenshots"));
        lists.write("Servers.txt", "127.0.0.1\r\nchat.example.org\r\n");
        lists.write("Channels.txt", "Lobby\r\nPublic Chat 1\r\n");
    }

    void cleanup() { QApplication::setPalette(systemPalette); }

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

    // A session under a dark system palette, as the documentation shows it.
    void mainWindowDark()
    {
        QApplication::setPalette(darkPalette());
        ScreenSize = 1024;
        {
            ChatWindow chat;
            chat.window.resize(1024, 768);
            QVERIFY(chat.connectNow());
            chat.users()->clear();
            chat.server.send("1007 kkkkkkk \"Lobby\"\r\n1001 kkkk alice 0010\r\n1001 kkkk Guest 0000\r\n"
                             "1018 kkkk \"Welcome to the Vesk Chat local gateway, alice.\"\r\n"
                             "1005 kkkk Guest 0000 \"hello everyone\"\r\n"
                             "1023 kkkkk Guest 0000 \"waves at the channel\"\r\n"
                             "1005 kkkk alice 0010 \"hi Guest, welcome!\"\r\n"
                             "1004 kkkkkkk Guest 0000 \"are you there?\"\r\n");
            QTRY_COMPARE(chat.whisperPane()->blockCount(), 2);
            // The buttons as Connect leaves them.
            chat.button("Connect")->setEnabled(false);
            for (const char *name : {"Disconnect", "cmdChannel", "cmdIdle"})
                chat.button(name)->setEnabled(true);
            save(&chat.window, QStringLiteral("TorvalMain-dark"));
        }
    }

    void dialogs_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("system palette") << QString();
        QTest::newRow("dark palette") << QStringLiteral("-dark");
    }

    void dialogs()
    {
        QFETCH(QString, suffix);
        if (!suffix.isEmpty())
            QApplication::setPalette(darkPalette());
        auto save = [this, &suffix](QWidget *window, const char *name) {
            this->save(window, QLatin1String(name) + suffix);
        };
        TorvalMain main;
        FrmOpt options;
        save(&options, "FrmOpt");
        FrmLogin login(&main);
        save(&login, "FrmLogin");
        frmServers servers;
        save(&servers, "frmServers");
        auto *channel = new FrmChannel(&main);
        save(channel, "FrmChannel");
        channel->close();
        auto *about = new frmAbout;
        save(about, "frmAbout");
        about->close();
        auto *help = new frmHelp;
        save(help, "frmHelp");
        help->close();
    }
};

QTEST_MAIN(tst_render)
#include "tst_render.moc"
