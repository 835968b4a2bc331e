// SPDX-License-Identifier: MIT
#include "support/TestSupport.h"
#include "ui/DisplayPane.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

namespace {
QList<QWidget *> topLevels(const char *objectName)
{
    QList<QWidget *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String(objectName) && w->isVisible())
            found.append(w);
    }
    return found;
}
} // namespace

class tst_mainwindow : public QObject
{
    Q_OBJECT

    TestStore store;

private slots:
    void init() { TestStore::clear(); }
    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QTest::qWait(0);
    }

    void controlsAfterLoad_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        const QList<std::tuple<const char *, const char *, bool>> buttons = {
            {"Connect", "Connect", true},   {"Disconnect", "Disc", false}, {"cmdChannel", "Channel", false},
            {"About", "About", true},       {"Quit", "Quit", true},        {"cmdIdle", "Idle", false},
            {"cmdHelp", "Help", true},      {"Slap", "Slap", true},        {"Kick", "Kick", true},
            {"Squelch", "Squelch", true},   {"UnSquelch", "UnSquelch", true}, {"Ban", "Ban", true},
            {"Whisper", "Whisper", true},   {"Whois", "Whois", true},      {"Send", "Send", true}};
        for (const auto &[name, text, enabled] : buttons)
            QTest::newRow(name) << name << text << enabled;
        QTest::newRow("lblTitle") << "lblTitle" << "Vesk Chat" << true;
        QTest::newRow("Channel") << "Channel" << "Channel (Users)" << true;
        QTest::newRow("LabelCoverUp") << "LabelCoverUp" << "" << true;
        QTest::newRow("Text1") << "Text1" << "User Input" << true;
        QTest::newRow("Text2") << "Text2" << "Chat Window\n" << true;
        QTest::newRow("Text3") << "Text3" << "Whisper Window\n" << true;
        QTest::newRow("Roomlist") << "Roomlist" << "User List" << true;
    }

    void controlsAfterLoad()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        TorvalMain w;
        QWidget *c = w.findChild<QWidget *>(name);
        QVERIFY2(c, qPrintable(name));
        QCOMPARE(c->isEnabled(), enabled);
        QString shown;
        if (auto *b = qobject_cast<QPushButton *>(c))
            shown = b->text();
        else if (auto *l = qobject_cast<QLabel *>(c))
            shown = l->text();
        else if (auto *e = qobject_cast<QLineEdit *>(c))
            shown = e->text();
        else if (auto *p = qobject_cast<QPlainTextEdit *>(c))
            shown = p->toPlainText();
        else if (auto *list = qobject_cast<QListWidget *>(c))
            shown = list->count() == 1 ? list->item(0)->text() : QString();
        QCOMPARE(shown, text);
    }

    void invisibleMembers()
    {
        TorvalMain w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Vesk Chat"));
        QVERIFY(!control<QTimer>(&w, "Timer1")->isActive());
        auto *idle = control<QTimer>(&w, "TimerIdle");
        QVERIFY(idle->isActive());
        QCOMPARE(idle->interval(), 1000);
        QCOMPARE(control<QTcpSocket>(&w, "Winsock1")->state(), QAbstractSocket::UnconnectedState);
        // Screen readers reach the panes, the input line and the list by name.
        QCOMPARE(control<QWidget>(&w, "Text2")->accessibleName(), QStringLiteral("Chat Window"));
        QCOMPARE(control<QWidget>(&w, "Text3")->accessibleName(), QStringLiteral("Whisper Window"));
        QCOMPARE(control<QWidget>(&w, "Text1")->accessibleName(), QStringLiteral("User Input"));
        QCOMPARE(control<QWidget>(&w, "Roomlist")->accessibleName(), QStringLiteral("User List"));
        QVERIFY(control<QLabel>(&w, "Channel")->accessibleName().isEmpty());
    }

    void panesAreReadOnly_data()
    {
        QTest::addColumn<QString>("pane");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("tabTo");
        QTest::addColumn<QString>("backtabTo");
        QTest::newRow("chat") << "Text2" << "Chat Window" << "Text1" << "Text3";
        QTest::newRow("whispers") << "Text3" << "Whisper Window" << "Text2" << "cmdHelp";
    }

    // A pane shows what the program wrote: typing, deleting and pasting change
    // nothing; the caret moves, selects and copies; Tab and Backtab leave the
    // pane; a line appended afterwards still lands last, caret after it.
    void panesAreReadOnly()
    {
        QFETCH(QString, pane);
        QFETCH(QString, firstLine);
        QFETCH(QString, tabTo);
        QFETCH(QString, backtabTo);
        TorvalMain w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto *p = control<QPlainTextEdit>(&w, qPrintable(pane));
        const QString before = p->toPlainText();
        p->setFocus();
        QTRY_VERIFY(p->hasFocus());

        QApplication::clipboard()->setText(QStringLiteral("pasted"));
        QTest::keyClicks(p, QStringLiteral("typed"));
        for (auto key : {Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Delete})
            QTest::keyClick(p, key);
        QTest::keyClick(p, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(p, Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(p, Qt::Key_Delete);
        QCOMPARE(p->toPlainText(), before);

        QCOMPARE(p->textCursor().position(), 0);
        QTest::keyClick(p, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(p->textCursor().selectedText(), firstLine);
        QTest::keyClick(p, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), firstLine);

        appendDisplayLine(p, QStringLiteral("<bob> hi"));
        QVERIFY(p->toPlainText().startsWith(before));
        QVERIFY(p->toPlainText().endsWith(QStringLiteral("] <bob> hi\n")));
        QCOMPARE(p->textCursor().position(), p->document()->characterCount() - 1);
        QVERIFY(!p->textCursor().hasSelection());

        const QString after = p->toPlainText();
        QTest::keyClick(p, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control<QWidget>(&w, qPrintable(tabTo)));
        p->setFocus();
        QTRY_VERIFY(p->hasFocus());
        QTest::keyClick(p, Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), control<QWidget>(&w, qPrintable(backtabTo)));
        QCOMPARE(p->toPlainText(), after);
    }

    // Resizing lays the controls out again, unless the window is minimized;
    // Help and Idle keep 1350 twips (90 pixels) from the right edge.
    void resizeAndMinimize()
    {
        ScreenSize = 800;
        TorvalMain w;
        w.resize(800, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *help = control<QWidget>(&w, "cmdHelp");
        auto *text2 = control<QWidget>(&w, "Text2");
        QCOMPARE(help->x(), w.frameGeometry().width() - 90);
        // The profile reads the outer size, frame included.
        const QSize outer = w.frameGeometry().size();
        QCOMPARE(text2->width(), outer.width() - 345);  // W - 5175 twips
        QCOMPARE(text2->height(), qRound((outer.height() * 15 - 4075) / 15.0));
        const QRect before = text2->geometry();

        w.setWindowState(Qt::WindowMinimized);
        w.resize(1000, 700);
        QCOMPARE(text2->geometry(), before);
        QCOMPARE(help->x(), outer.width() - 90);

        w.setWindowState(Qt::WindowNoState);
        w.resize(1000, 700);
        QTRY_COMPARE(text2->width(), w.frameGeometry().width() - 345);
        QCOMPARE(help->x(), w.frameGeometry().width() - 90);
    }

    // One About window at a time, loaded afresh after it was closed.
    void aboutWindow()
    {
        TorvalMain w;
        control<QPushButton>(&w, "About")->click();
        control<QPushButton>(&w, "About")->click();
        QCOMPARE(topLevels("frmAbout").size(), 1);
        QWidget *about = topLevels("frmAbout").value(0);
        QCOMPARE(about->windowTitle(), QStringLiteral("About Vesk Chat"));
        QCOMPARE(control<QLabel>(about, "lblTitle")->text(), QStringLiteral("Vesk Chat"));
        QCOMPARE(control<QLabel>(about, "lblVersion")->text(), QStringLiteral("Version 1.0"));
        QPointer<QWidget> guard = about;
        QTest::keyClick(about, Qt::Key_Escape);
        QTRY_VERIFY(guard.isNull());

        control<QPushButton>(&w, "About")->click();
        guard = topLevels("frmAbout").value(0);
        QTest::keyClick(guard, Qt::Key_Return);
        QTRY_VERIFY(guard.isNull());
    }

    // One Help window at a time; what was typed into it is gone after it closed.
    void helpForgetsTyping()
    {
        TorvalMain w;
        control<QPushButton>(&w, "cmdHelp")->click();
        control<QPushButton>(&w, "cmdHelp")->click();
        QCOMPARE(topLevels("frmHelp").size(), 1);
        QPointer<QWidget> help = topLevels("frmHelp").value(0);
        auto *text = control<QPlainTextEdit>(help, "Text1");
        QCOMPARE(text->toPlainText(), QStringLiteral("Read the Readme.txt file!\n"));
        text->appendPlainText(QStringLiteral("typed"));
        help->close();
        QTRY_VERIFY(help.isNull());
        control<QPushButton>(&w, "cmdHelp")->click();
        help = topLevels("frmHelp").value(0);
        QCOMPARE(control<QPlainTextEdit>(help, "Text1")->toPlainText(),
                 QStringLiteral("Read the Readme.txt file!\n"));
        QCOMPARE(control<QLabel>(help, "Label1")->text(), QStringLiteral("Vesk Chat Help"));
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
