// SPDX-License-Identifier: MIT
// The program's start: the options window on first run, the main window after it.
#include "gui/ChatWindow.h"
#include "settings/Settings.h"
#include "ui/FrmOpt.h"

#include <QRadioButton>

class tst_startup : public QObject
{
    Q_OBJECT

    WindowTestState state;

private slots:
    void init()
    {
        state.reset();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void cleanup() { closeAllWindows(); }

    void choiceStoresProfile_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("stored");
        QTest::newRow("none chosen") << "" << "640";
        for (const char *option : {"640", "800", "1024"})
            QTest::newRow(option) << QString("opt") + option << QString(option);
        QTest::newRow("Higher") << "optHigher" << "1200";
    }

    // An empty store shows the options first; OK stores the profile and opens
    // the main window; the next start goes straight to the main window.
    void choiceStoresProfile()
    {
        QFETCH(QString, option);
        QFETCH(QString, stored);
        QPointer<QWidget> options = TorvalMod1::Main();
        QVERIFY(qobject_cast<FrmOpt *>(options));
        QCOMPARE(options->windowTitle(), "Options");
        if (!option.isEmpty())
            control<QRadioButton>(options, qPrintable(option))->click();
        control<QPushButton>(options, "cmdOK")->click();
        QCOMPARE(GetSetting(Keys::ScreenSize), stored);
        QCOMPARE(int(ScreenSize), stored.toInt());
        QTRY_VERIFY(options.isNull());
        QVERIFY(shownWindow<TorvalMain>());
        cleanup();
        QWidget *second = TorvalMod1::Main();
        QVERIFY(qobject_cast<TorvalMain *>(second) && second->isVisible());
    }

    void cancelDoesNothing()
    {
        QWidget *first = TorvalMod1::Main();
        control<QPushButton>(first, "cmdCancel")->click();
        QVERIFY(first->isVisible());
        QCOMPARE(GetSetting(Keys::ScreenSize), "0");
    }

    void storedProfileThatIsNoNumberAsksAgain_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("asks");
        QTest::newRow("words") << "big" << true;
        QTest::newRow("other number") << "2" << false;
    }

    void storedProfileThatIsNoNumberAsksAgain()
    {
        QFETCH(QString, stored);
        QFETCH(bool, asks);
        SaveSetting(Keys::ScreenSize, stored);
        QCOMPARE(qobject_cast<FrmOpt *>(TorvalMod1::Main()) != nullptr, asks);
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
        QTRY_VERIFY((main = shownWindow<TorvalMain>()));
        QVERIFY(QTest::qWaitForWindowActive(main));
        QTRY_COMPARE(QApplication::focusWidget(), main->controls().Text1);
        QTest::keyClicks(QApplication::focusWidget(), " hi");
        QCOMPARE(main->controls().Text1->text(), "User Input hi");
    }
};

QTEST_MAIN(tst_startup)
#include "tst_startup.moc"
