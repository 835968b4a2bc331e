// SPDX-License-Identifier: MIT
#include "settings/Settings.h"
#include "support/TestSupport.h"
#include "ui/FrmOpt.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

class tst_startup : public QObject
{
    Q_OBJECT

    TestStore store;

    static void closeAll()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QTest::qWait(0);
    }

    static TorvalMain *findMainWindow()
    {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *main = qobject_cast<TorvalMain *>(w); main && main->isVisible())
                return main;
        }
        return nullptr;
    }

    static bool mainWindowShown() { return findMainWindow() != nullptr; }

private slots:
    void init()
    {
        TestStore::clear();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void cleanup() { closeAll(); }

    void choiceStoresProfile_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("stored");
        QTest::newRow("none chosen") << "" << "640";
        QTest::newRow("640") << "opt640" << "640";
        QTest::newRow("800") << "opt800" << "800";
        QTest::newRow("1024") << "opt1024" << "1024";
        QTest::newRow("Higher") << "optHigher" << "1200";
    }

    // An empty store shows the options first; OK stores the profile and opens
    // the main window; the next start goes straight to the main window.
    void choiceStoresProfile()
    {
        QFETCH(QString, option);
        QFETCH(QString, stored);
        QWidget *first = TorvalMod1::Main();
        QVERIFY(qobject_cast<FrmOpt *>(first));
        QCOMPARE(first->windowTitle(), QStringLiteral("Options"));
        if (!option.isEmpty())
            first->findChild<QRadioButton *>(option)->click();
        QPointer<QWidget> options = first;
        control<QPushButton>(first, "cmdOK")->click();
        QCOMPARE(GetSetting(Keys::ScreenSize), stored);
        QCOMPARE(int(ScreenSize), stored.toInt());
        QTRY_VERIFY(options.isNull());
        QVERIFY(mainWindowShown());
        closeAll();

        QWidget *second = TorvalMod1::Main();
        QVERIFY(qobject_cast<TorvalMain *>(second));
        QVERIFY(second->isVisible());
    }

    void inputLineHasFocus_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("stored profile") << "800";
        QTest::newRow("after the options") << "";
    }

    // Whichever way the main window opens, typing goes to the input line.
    void inputLineHasFocus()
    {
        QFETCH(QString, stored);
        if (!stored.isEmpty())
            SaveSetting(Keys::ScreenSize, stored);
        QWidget *first = TorvalMod1::Main();
        if (stored.isEmpty())
            control<QPushButton>(first, "cmdOK")->click();
        TorvalMain *main = nullptr;
        QTRY_VERIFY((main = findMainWindow()));
        QVERIFY(QTest::qWaitForWindowActive(main));
        QTRY_COMPARE(QApplication::focusWidget(), control<QWidget>(main, "Text1"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral(" hi"));
        QCOMPARE(control<QLineEdit>(main, "Text1")->text(), QStringLiteral("User Input hi"));
    }

    void cancelDoesNothing()
    {
        QWidget *first = TorvalMod1::Main();
        control<QPushButton>(first, "cmdCancel")->click();
        QVERIFY(first->isVisible());
        QCOMPARE(GetSetting(Keys::ScreenSize), QStringLiteral("0"));
    }

    void storedProfileThatIsNoNumberAsksAgain_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("asks");
        QTest::newRow("words") << "big" << true;
        QTest::newRow("too big") << "70000" << true;
        QTest::newRow("higher") << "1200" << false;
        QTest::newRow("other") << "2" << false;
    }

    void storedProfileThatIsNoNumberAsksAgain()
    {
        QFETCH(QString, stored);
        QFETCH(bool, asks);
        SaveSetting(Keys::ScreenSize, stored);
        QWidget *first = TorvalMod1::Main();
        QCOMPARE(qobject_cast<FrmOpt *>(first) != nullptr, asks);
    }
};

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
