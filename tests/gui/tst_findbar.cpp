// SPDX-License-Identifier: MIT
#include "ui/FindBar.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QVBoxLayout>

class tst_findbar : public QObject
{
    Q_OBJECT

    QWidget m_window;
    QPlainTextEdit *m_pane = nullptr;
    QLineEdit *m_input = nullptr;
    FindBar *m_bar = nullptr;

    QLineEdit *findText() { return m_bar->findChild<QLineEdit *>(QStringLiteral("FindText")); }
    QString count() { return m_bar->findChild<QLabel *>(QStringLiteral("FindCount"))->text(); }
    QString selected() { return m_pane->textCursor().selectedText(); }
    int selectedAt() { return m_pane->textCursor().selectionStart(); }

private slots:
    void initTestCase()
    {
        auto *column = new QVBoxLayout(&m_window);
        m_pane = new QPlainTextEdit(&m_window);
        m_input = new QLineEdit(&m_window);
        m_bar = new FindBar(&m_window);
        column->addWidget(m_pane);
        column->addWidget(m_bar);
        column->addWidget(m_input);
        m_pane->setPlainText(QStringLiteral("Anna: hi\nbo: hello anna\nnothing\nANNA again"));
        m_window.show();
        QVERIFY(QTest::qWaitForWindowActive(&m_window));
    }

    // Keys typed into the bar, and where each leaves the current match.
    void keys_data()
    {
        QTest::addColumn<QString>("sought");
        QTest::addColumn<QList<int>>("keys");     // Qt::Key, negative with Shift
        QTest::addColumn<QStringList>("counts"); // after typing, then after each key
        QTest::addColumn<QList<int>>("at");       // the selected match's position, likewise
        const int second = 19, third = 32; // "hello anna", "ANNA again"
        QTest::newRow("next wraps") << "anna" << QList<int>{Qt::Key_Return, Qt::Key_F3, Qt::Key_Return}
                                    << QStringList{"1 of 3", "2 of 3", "3 of 3", "1 of 3"}
                                    << QList<int>{0, second, third, 0};
        QTest::newRow("previous wraps") << "anna" << QList<int>{-Qt::Key_Return, -Qt::Key_F3}
                                        << QStringList{"1 of 3", "3 of 3", "2 of 3"}
                                        << QList<int>{0, third, second};
        QTest::newRow("no match") << "zzz" << QList<int>{Qt::Key_Return} << QStringList{"0 of 0", "0 of 0"}
                                  << QList<int>{-1, -1};
    }
    void keys()
    {
        QFETCH(QString, sought);
        QFETCH(QList<int>, keys);
        QFETCH(QStringList, counts);
        QFETCH(QList<int>, at);
        m_pane->moveCursor(QTextCursor::Start);
        m_bar->open(m_pane);
        findText()->clear();
        QTest::keyClicks(findText(), sought);
        auto check = [&](int step) {
            QCOMPARE(count(), counts.at(step));
            if (at.at(step) >= 0) {
                QCOMPARE(selectedAt(), at.at(step));
                QCOMPARE(selected().toLower(), sought);
            }
        };
        check(0);
        for (int i = 0; i < keys.size(); ++i) {
            const int key = keys.at(i);
            QTest::keyClick(findText(), Qt::Key(std::abs(key)), key < 0 ? Qt::ShiftModifier : Qt::NoModifier);
            check(i + 1);
        }
    }

    void matchesHighlightedAndEscapeGivesFocusBack()
    {
        m_input->setFocus();
        QTRY_VERIFY(m_input->hasFocus());
        m_bar->open(m_pane);
        findText()->setText(QStringLiteral("hello"));
        QVERIFY(findText()->hasFocus());
        QCOMPARE(m_pane->extraSelections().size(), 1);
        QTest::keyClick(findText(), Qt::Key_Escape);
        QVERIFY(!m_bar->isVisible());
        QVERIFY(m_pane->extraSelections().isEmpty());
        QTRY_VERIFY(m_input->hasFocus());
    }

    void newLinesAreFound()
    {
        m_bar->open(m_pane);
        findText()->setText(QStringLiteral("again"));
        QCOMPARE(count(), QStringLiteral("1 of 1"));
        m_pane->appendPlainText(QStringLiteral("and again"));
        QTRY_COMPARE(count(), QStringLiteral("1 of 2"));
        m_bar->close();
    }
};

QTEST_MAIN(tst_findbar)
#include "tst_findbar.moc"
