// SPDX-License-Identifier: MIT
#include "outgoing/PasteQueue.h"
#include "ui/PasteBar.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class tst_pastebar : public QObject
{
    Q_OBJECT

    QStringList m_sent;
    int m_linkDownAt = -1;
    PasteQueue *m_queue = nullptr;
    PasteBar *m_bar = nullptr;
    QWidget *m_window = nullptr;

    QPushButton *button(const char *name) { return m_bar->findChild<QPushButton *>(QLatin1String(name)); }
    QString message() { return m_bar->findChild<QLabel *>(QStringLiteral("pasteMessage"))->text(); }
    QStringList shownButtons()
    {
        QStringList shown;
        for (const char *name : {"pasteSend", "pasteCancel", "pasteStop", "pasteClose"}) {
            if (button(name)->isVisible())
                shown.append(button(name)->text());
        }
        return shown;
    }

private slots:
    void init()
    {
        m_sent.clear();
        m_linkDownAt = -1;
        m_window = new QWidget;
        m_queue = new PasteQueue([this](const QString &line) {
            if (m_sent.size() == m_linkDownAt)
                return false;
            m_sent.append(line);
            return true;
        }, m_window);
        m_queue->setPace(1, 1);
        m_bar = new PasteBar(m_queue, m_window);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }
    void cleanup() { delete m_window; }

    void askThenAnswer_data()
    {
        QTest::addColumn<QString>("answer"); // a button's name, or a key
        QTest::addColumn<int>("linkDownAt");
        QTest::addColumn<int>("pace");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("send clicked") << "pasteSend" << -1 << 1 << QStringList{"a", "b", "c"} << "Sent 3 lines."
                                      << QStringList{"Close"};
        QTest::newRow("enter sends") << "Enter" << -1 << 1 << QStringList{"a", "b", "c"} << "Sent 3 lines."
                                     << QStringList{"Close"};
        QTest::newRow("cancel clicked") << "pasteCancel" << -1 << 1 << QStringList() << QString() << QStringList();
        QTest::newRow("escape cancels") << "Escape" << -1 << 1 << QStringList() << QString() << QStringList();
        QTest::newRow("link lost") << "pasteSend" << 2 << 1 << QStringList{"a", "b"}
                                   << "Sent 2 of 3 lines: the connection was lost." << QStringList{"Close"};
        QTest::newRow("sending shows what is left") << "pasteSend" << -1 << 60000 << QStringList{"a"}
                                                    << "2 lines left" << QStringList{"Stop"};
    }
    void askThenAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(int, linkDownAt);
        QFETCH(int, pace);
        QFETCH(QStringList, sent);
        QFETCH(QString, message);
        QFETCH(QStringList, buttons);
        m_linkDownAt = linkDownAt;
        m_queue->setPace(1, pace);
        QSignalSpy closed(m_bar, &PasteBar::closed);
        m_bar->ask(QStringLiteral("a\nb\nc\n"), QStringLiteral("#chat"));
        QVERIFY(m_bar->isVisible());
        QCOMPARE(this->message(), QStringLiteral("Send 3 lines to #chat?"));
        QCOMPARE(shownButtons(), (QStringList{"Send", "Cancel"}));
        QCOMPARE(QApplication::focusWidget(), button("pasteSend"));
        if (answer == u"Enter")
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        else if (answer == u"Escape")
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else
            QTest::mouseClick(button(answer.toLatin1().constData()), Qt::LeftButton);
        if (pace == 1)
            QTRY_VERIFY(!m_queue->isRunning());
        QCOMPARE(m_sent, sent);
        QCOMPARE(shownButtons(), buttons);
        if (buttons.isEmpty()) {
            QVERIFY(m_bar->isHidden());
            QCOMPARE(closed.size(), 1);
            QCOMPARE(m_queue->left(), 0);
        } else {
            QCOMPARE(this->message(), message);
        }
    }

    void stopThenClose()
    {
        m_queue->setPace(1, 60000);
        QSignalSpy closed(m_bar, &PasteBar::closed);
        m_bar->ask(QStringLiteral("a\n/quit\nb\nc"), QStringLiteral("#chat"));
        QCOMPARE(message(), QStringLiteral("Send 3 lines to #chat? 1 local command in it is not sent."));
        QTest::mouseClick(button("pasteSend"), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), button("pasteStop"));
        QVERIFY(!m_bar->ask(QStringLiteral("x\ny"), QStringLiteral("#chat"))); // the first paste goes on
        QCOMPARE(message(), QStringLiteral("2 lines left"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape); // Escape stops
        QCOMPARE(message(), QStringLiteral("Stopped: sent 1 of 3 lines. 1 local command in it was not sent."));
        QCOMPARE(shownButtons(), QStringList{"Close"});
        QTest::qWait(20);
        QCOMPARE(m_sent, QStringList{"a"});
        QTest::mouseClick(button("pasteClose"), Qt::LeftButton);
        QVERIFY(m_bar->isHidden());
        QCOMPARE(closed.size(), 1);
    }

    void targetShownAsPlainText()
    {
        m_bar->ask(QStringLiteral("a\nb"), QStringLiteral("<b>#x</b>"));
        QCOMPARE(m_bar->findChild<QLabel *>(QStringLiteral("pasteMessage"))->textFormat(), Qt::PlainText);
        QCOMPARE(message(), QStringLiteral("Send 2 lines to <b>#x</b>?"));
    }
};

QTEST_MAIN(tst_pastebar)
#include "tst_pastebar.moc"
