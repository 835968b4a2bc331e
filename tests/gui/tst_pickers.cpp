// SPDX-License-Identifier: MIT
#include "gui/ChatWindow.h"
#include "settings/Settings.h"
#include "ui/FrmChannel.h"
#include "ui/frmServers.h"

#include <QListWidget>

class tst_pickers : public QObject
{
    Q_OBJECT

    TestStore store;
    TestListFolder lists;

    // Builds a picker; a missing-file box that opens meanwhile is read and closed.
    template <typename Picker, typename... Args>
    Picker *build(QString *boxText, QString *boxTitle, Args... args)
    {
        readMessageBox(boxText, boxTitle);
        auto *picker = new Picker(args...);
        cancelPendingModalAnswers(); // the box, if any, opened while the picker was built
        return picker;
    }

private slots:
    void init()
    {
        TestStore::clear();
        lists.remove("Servers.txt");
        lists.remove("Channels.txt");
    }

    void emptyStorePresetsZero()
    {
        lists.write("Servers.txt", "127.0.0.1\r\nchat.example.org\r\n");
        lists.write("Channels.txt", "Lobby\r\n");
        TorvalMain w;
        QString text, title;
        std::unique_ptr<frmServers> servers(build<frmServers>(&text, &title));
        QCOMPARE(control<QLineEdit>(servers.get(), "txtserver")->text(), QStringLiteral("0"));
        QCOMPARE(servers->serverAddress(), QStringLiteral("0"));
        QCOMPARE(control<QListWidget>(servers.get(), "List1")->count(), 2);
        std::unique_ptr<FrmChannel> channels(build<FrmChannel>(&text, &title, &w));
        QCOMPARE(control<QLineEdit>(channels.get(), "txtchannel")->text(), QStringLiteral("0"));
        QCOMPARE(text, QString());
    }

    void missingFile_data()
    {
        QTest::addColumn<bool>("servers");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        QTest::newRow("servers") << true
            << "The file Servers.txt is missing.  It contains the server list for this program.  "
               "Please create a text file with one IP per line in Notepad."
            << "File Server.txt not found";
        QTest::newRow("channels") << false
            << "The file Channels.txt is missing.  It contains the channel list for this program.  "
               "Please create a text file with one channel per line in Notepad."
            << "File Channels.txt not found";
    }

    void missingFile()
    {
        QFETCH(bool, servers);
        QFETCH(QString, message);
        QFETCH(QString, title);
        TorvalMain w;
        QString text, boxTitle;
        std::unique_ptr<QWidget> picker(servers ? static_cast<QWidget *>(build<frmServers>(&text, &boxTitle))
                                                : build<FrmChannel>(&text, &boxTitle, &w));
        QCOMPARE(text, message);
        QCOMPARE(boxTitle, title);
        QCOMPARE(control<QListWidget>(picker.get(), "List1")->count(), 0);
    }

    // A click copies the entry into the box; OK hands the box's text to Connect.
    void serverPickerOk()
    {
        lists.write("Servers.txt", "127.0.0.1\r\nchat.example.org\r\n");
        SaveSetting(Keys::Server, QStringLiteral("old.example.org"));
        QString text, title;
        std::unique_ptr<frmServers> picker(build<frmServers>(&text, &title));
        QCOMPARE(picker->serverAddress(), QStringLiteral("old.example.org"));
        auto *list = control<QListWidget>(picker.get(), "List1");
        // The list taking the focus makes an entry current but picks nothing.
        picker->show();
        list->setFocus();
        QTest::qWait(10);
        QCOMPARE(control<QLineEdit>(picker.get(), "txtserver")->text(), QStringLiteral("old.example.org"));
        list->setCurrentRow(1);
        QCOMPARE(control<QLineEdit>(picker.get(), "txtserver")->text(), QStringLiteral("chat.example.org"));
        control<QPushButton>(picker.get(), "Command1")->click();
        QCOMPARE(picker->serverAddress(), QStringLiteral("chat.example.org"));
    }

    void serverPickerMarksSecureEntries_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain name") << QByteArray("chat.example.org") << "chat.example.org";
        QTest::newRow("plain with port") << QByteArray("chat.example.org:7000") << "chat.example.org:7000";
        QTest::newRow("secure") << QByteArray("tls://chat.example.org") << "tls://chat.example.org  (secure)";
        QTest::newRow("secure IPv6") << QByteArray("tls://[::1]:7001") << "tls://[::1]:7001  (secure)";
        QTest::newRow("not understood, shown as it is") << QByteArray("tls://") << "tls://";
    }
    void serverPickerMarksSecureEntries()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        lists.write("Servers.txt", "127.0.0.1\r\n" + line + "\r\n");
        QString text, title;
        std::unique_ptr<frmServers> picker(build<frmServers>(&text, &title));
        auto *list = control<QListWidget>(picker.get(), "List1");
        QCOMPARE(list->item(1)->text(), shown);
        // A click copies the entry as written, never the label.
        list->setCurrentRow(1);
        QCOMPARE(control<QLineEdit>(picker.get(), "txtserver")->text(), QString::fromUtf8(line));
    }

    void channelPickerOkSendsAndSaves()
    {
        lists.write("Channels.txt", "Lobby\r\nChat Room\r\n");
        ChatWindow chat;
        TorvalMain &w = chat.window;
        QVERIFY(chat.connectNow());
        chat.ui.cmdChannel->setEnabled(true);
        chat.ui.cmdChannel->click();
        chat.ui.cmdChannel->click();
        chat.input()->setText("half typed");
        chat.input()->setSelection(2, 3);
        QList<FrmChannel *> open = w.findChildren<FrmChannel *>();
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *picker = qobject_cast<FrmChannel *>(top); picker && picker->isVisible() && !open.contains(picker))
                open.append(picker);
        }
        QCOMPARE(open.size(), 1);
        QPointer<FrmChannel> picker = open.first();
        control<QListWidget>(picker, "List1")->setCurrentRow(1);
        control<QPushButton>(picker, "Command1")->click();
        QCOMPARE(chat.sent(), QByteArray("/channel Chat Room\r\n"));
        QCOMPARE(GetSetting(Keys::HomeChannel), QStringLiteral("Chat Room"));
        // The user's typing is left as it was, and the picker's line is not in the history.
        QCOMPARE(chat.input()->text(), "half typed");
        QCOMPARE(chat.input()->selectionStart(), 2);
        QCOMPARE(chat.input()->selectedText(), "lf ");
        QTRY_VERIFY(picker.isNull());
        chat.input()->clear();
        QTest::keyClick(chat.input(), Qt::Key_Up);
        QCOMPARE(chat.input()->text(), QString());
    }
};

QTEST_MAIN(tst_pickers)
#include "tst_pickers.moc"
