// SPDX-License-Identifier: MIT
// The main window on its own: its controls after loading, the panes, resizing,
// and the About and Help windows.
#include "gui/ChatWindow.h"

#include <QClipboard>

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

    WindowTestState state;

private slots:
    void init() { state.reset(); }
    void cleanup() { closeAllWindows(); }

    void controlsAfterLoad_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        const std::tuple<const char *, const char *, bool> controls[] = {
            {"Connect", "Connect", true}, {"Disconnect", "Disc", false}, {"cmdChannel", "Channel", false},
            {"About", "About", true}, {"Quit", "Quit", true}, {"cmdIdle", "Idle", false}, {"cmdHelp", "Help", true},
            {"Slap", "Slap", true}, {"Kick", "Kick", true}, {"Squelch", "Squelch", true},
            {"UnSquelch", "UnSquelch", true}, {"Ban", "Ban", true}, {"Whisper", "Whisper", true},
            {"Whois", "Whois", true}, {"Send", "Send", true}, {"lblTitle", "Vesk Chat", true},
            {"Channel", "Channel (Users)", true}, {"LabelCoverUp", "", true}, {"Text1", "User Input", true},
            {"Text2", "Chat Window\n", true}, {"Text3", "Whisper Window\n", true}, {"Roomlist", "User List", true}};
        for (const auto &[name, text, enabled] : controls)
            QTest::newRow(name) << QString(name) << QString(text) << enabled;
    }

    void controlsAfterLoad()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        TorvalMain w;
        QWidget *c = control<QWidget>(&w, qPrintable(name));
        QCOMPARE(c->isEnabled(), enabled);
        const auto *list = qobject_cast<QListView *>(c);
        QCOMPARE(list ? (list->model()->rowCount() == 1 ? list->model()->index(0, 0).data().toString() : QString())
                      : c->property(qobject_cast<QPlainTextEdit *>(c) ? "plainText" : "text").toString(),
                 text);
    }

    void invisibleMembers()
    {
        TorvalMain w;
        QCOMPARE(w.windowTitle(), "Vesk Chat");
        QVERIFY(!w.session()->watchdog()->isActive());
        const QTimer *idle = w.controls().TimerIdle;
        QVERIFY(idle->isActive() && idle->interval() == 1000);
        QCOMPARE(w.link()->socket()->objectName(), "Winsock1");
        QCOMPARE(w.link()->socket()->state(), QAbstractSocket::UnconnectedState);
        // Screen readers reach the panes, the input line and the list by name.
        const std::pair<const char *, const char *> names[] = {
            {"Text2", "Chat Window"}, {"Text3", "Whisper Window"}, {"Text1", "User Input"}, {"Roomlist", "User List"},
            {"Channel", ""}};
        for (const auto &[name, spoken] : names)
            QCOMPARE(control<QWidget>(&w, name)->accessibleName(), spoken);
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
        QPlainTextEdit *p = pane == u"Text2" ? w.controls().Text2 : w.controls().Text3;
        const QString before = p->toPlainText();
        p->setFocus();
        QTRY_VERIFY(p->hasFocus());

        QApplication::clipboard()->setText("pasted");
        QTest::keyClicks(p, "typed");
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

        appendDisplayLine(p, "<bob> hi");
        QCOMPARE(p->toPlainText(), before + "[12:34] <bob> hi\n");
        QVERIFY(caretAtEnd(p));

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
        QWidget *help = w.controls().cmdHelp;
        QWidget *text2 = w.controls().Text2;
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

    // One About window at a time, closed by Escape or Enter and loaded afresh after it was closed.
    void aboutWindow()
    {
        TorvalMain w;
        for (const auto key : {Qt::Key_Escape, Qt::Key_Return}) {
            w.controls().About->click();
            w.controls().About->click();
            QCOMPARE(topLevels("frmAbout").size(), 1);
            QPointer<QWidget> about = topLevels("frmAbout").value(0);
            QCOMPARE(about->windowTitle(), "About Vesk Chat");
            QCOMPARE(control<QLabel>(about, "lblTitle")->text(), "Vesk Chat");
            QCOMPARE(control<QLabel>(about, "lblVersion")->text(), "Version 1.0");
            QTest::keyClick(about, key);
            QTRY_VERIFY(about.isNull());
        }
    }

    // One Help window at a time; what was typed into it is gone after it closed.
    void helpForgetsTyping()
    {
        TorvalMain w;
        for (int round = 0; round < 2; ++round) {
            w.controls().cmdHelp->click();
            w.controls().cmdHelp->click();
            QCOMPARE(topLevels("frmHelp").size(), 1);
            QPointer<QWidget> help = topLevels("frmHelp").value(0);
            QCOMPARE(control<QLabel>(help, "Label1")->text(), "Vesk Chat Help");
            auto *text = control<QPlainTextEdit>(help, "Text1");
            QCOMPARE(text->toPlainText(), "Read the Readme.txt file!\n");
            text->appendPlainText("typed");
            help->close();
            QTRY_VERIFY(help.isNull());
        }
    }
};

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
