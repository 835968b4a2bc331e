// SPDX-License-Identifier: MIT
// Up, Down and Tab in the real input line: the history of sent lines and name completion.
#include "gui/ChatWindow.h"

#include "settings/Settings.h"

class tst_inputkeys : public QObject
{
    Q_OBJECT

    TestStore store;
    FixedClock clock;

private slots:
    void init()
    {
        TestStore::clear();
    }

    // keys: U(p), D(own), T(ab); shown: the line after each key, "|" at the caret.
    void keys_data()
    {
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("typing");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QStringList>("shown");
        const QStringList abc{"a", "b", "c"};
        QTest::newRow("up walks back, stops at the oldest") << abc << "" << "UUUU"
                                                             << QStringList{"c|", "b|", "a|", "a|"};
        QTest::newRow("down brings back what was typed") << abc << "dra" << "UUDD"
                                                        << QStringList{"c|", "b|", "c|", "dra|"};
        QTest::newRow("down alone changes nothing") << abc << "x" << "D" << QStringList{"x|"};
        QTest::newRow("repeats kept once") << QStringList{"a", "a", "b"} << "" << "UUU"
                                           << QStringList{"b|", "a|", "a|"};
        QTest::newRow("no history") << QStringList{} << "x" << "U" << QStringList{"x|"};
        QTest::newRow("tab completes, case-insensitive") << QStringList{} << "hi AN" << "T"
                                                         << QStringList{"hi Anna|"};
        QTest::newRow("tab again cycles") << QStringList{} << "b" << "TTTT"
                                          << QStringList{"bo|", "Bob|", "bob|", "bo|"};
        QTest::newRow("caret inside the line") << QStringList{} << "an<| there" << "T"
                                               << QStringList{"Anna| there"};
        QTest::newRow("nothing matches") << QStringList{} << "zz" << "T" << QStringList{"zz|"};
        QTest::newRow("empty word") << QStringList{} << "hi " << "T" << QStringList{"hi |"};
    }
    void keys()
    {
        QFETCH(QStringList, sent);
        QFETCH(QString, typing);
        QFETCH(QString, keys);
        QFETCH(QStringList, shown);
        ChatWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        for (const char *entry : {"bob ", "Anna ", "Bob ", "bo "})
            w.session()->roster()->append(QLatin1String(entry));
        QLineEdit *input = w.input();
        input->setFocus();
        for (const QString &line : sent) {
            input->setText(line);
            QTest::keyClick(input, Qt::Key_Return);
        }
        // "<|" in typing marks where the caret is left.
        const qsizetype caret = typing.indexOf(QLatin1String("<|"));
        input->setText(QString(typing).remove(QLatin1String("<|")));
        input->setCursorPosition(caret < 0 ? int(input->text().size()) : int(caret));
        QStringList seen;
        for (QChar key : keys) {
            QTest::keyClick(input, key == u'U' ? Qt::Key_Up : key == u'D' ? Qt::Key_Down : Qt::Key_Tab);
            seen << QString(input->text()).insert(input->cursorPosition(), u'|');
        }
        QCOMPARE(seen, shown);
    }

    void tabMovesFocusWhenNothingCompletes_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("keepsFocus");
        QTest::newRow("completes") << "bo" << true;
        QTest::newRow("no match") << "zz" << false;
        QTest::newRow("empty word") << "bo " << false;
    }
    void tabMovesFocusWhenNothingCompletes()
    {
        QFETCH(QString, typed);
        QFETCH(bool, keepsFocus);
        ChatWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.session()->roster()->append(QStringLiteral("bob "));
        w.input()->setFocus();
        w.input()->setText(typed);
        QTest::keyClick(w.input(), Qt::Key_Tab);
        QCOMPARE(w.input()->hasFocus(), keepsFocus);
    }

    void historyKeepsTheLast100()
    {
        ChatWindow w;
        QLineEdit *input = w.input();
        for (int i = 0; i < 150; ++i) {
            input->setText(QString::number(i));
            QTest::keyClick(input, Qt::Key_Return);
        }
        for (int i = 0; i < 120; ++i)
            QTest::keyClick(input, Qt::Key_Up);
        QCOMPARE(input->text(), QStringLiteral("50"));
    }

    void switchedOff()
    {
        SaveSetting(Keys::InputHistory, QStringLiteral("0"));
        SaveSetting(Keys::NameCompletion, QStringLiteral("0"));
        ChatWindow w;
        w.session()->roster()->append(QStringLiteral("bob "));
        QLineEdit *input = w.input();
        input->setText(QStringLiteral("sent"));
        QTest::keyClick(input, Qt::Key_Return);
        input->setText(QStringLiteral("b"));
        QTest::keyClick(input, Qt::Key_Up);
        QTest::keyClick(input, Qt::Key_Tab);
        QCOMPARE(input->text(), QStringLiteral("b"));
    }
};

QTEST_MAIN(tst_inputkeys)
#include "tst_inputkeys.moc"
