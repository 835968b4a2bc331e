// SPDX-License-Identifier: MIT
#include "settings/PasswordKeyring.h"

#include <QTest>

using Availability = PasswordKeyring::Availability;

class tst_rememberpassword : public QObject
{
    Q_OBJECT

private slots:
    void box_data()
    {
        QTest::addColumn<int>("availability");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("toolTipHas");
        QTest::newRow("keyring, nothing stored: off by default")
            << int(Availability::Available) << "" << false << true << false << "Remember password" << "system keyring";
        QTest::newRow("keyring, stored: on") << int(Availability::Available) << "" << true << true << true << "Remember password"
                                             << "system keyring";
        QTest::newRow("no keyring says why") << int(Availability::Unavailable) << "there is no session bus" << false << false
                                             << false << "Remember password (no keyring)" << "there is no session bus";
        QTest::newRow("no keyring, a stale answer cannot check it")
            << int(Availability::Unavailable) << "" << true << false << false << "Remember password (no keyring)"
            << "no system keyring was found";
        QTest::newRow("still looking") << int(Availability::Unknown) << "" << true << false << false << "Remember password"
                                       << "Looking";
    }

    void box()
    {
        QFETCH(int, availability);
        QFETCH(QString, reason);
        QFETCH(bool, stored);
        QFETCH(bool, enabled);
        QFETCH(bool, checked);
        QFETCH(QString, text);
        QFETCH(QString, toolTipHas);
        const RememberBoxState state = rememberBoxState(Availability(availability), reason, stored);
        QCOMPARE(state.enabled, enabled);
        QCOMPARE(state.checked, checked);
        QCOMPARE(state.text, text);
        QVERIFY2(state.toolTip.contains(toolTipHas), qPrintable(state.toolTip));
    }

    void action_data()
    {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("action");
        QTest::newRow("on: remember") << true << true << "pw" << int(RememberAction::Write);
        QTest::newRow("off: forget what was stored") << true << false << "pw" << int(RememberAction::Remove);
        QTest::newRow("on with no password (a guest): nothing to keep") << true << true << "" << int(RememberAction::Remove);
        QTest::newRow("no keyring: nothing, anywhere") << false << true << "pw" << int(RememberAction::Nothing);
        QTest::newRow("no keyring, off") << false << false << "pw" << int(RememberAction::Nothing);
    }

    void action()
    {
        QFETCH(bool, available);
        QFETCH(bool, checked);
        QFETCH(QString, password);
        QFETCH(int, action);
        QCOMPARE(int(rememberAction(available, checked, password)), action);
    }

    void keyNamesUserAndServer()
    {
        QCOMPARE(PasswordKeyring::keyFor("alice", "[::1]:6113"), QStringLiteral("alice@[::1]:6113"));
    }
};

QTEST_GUILESS_MAIN(tst_rememberpassword)
#include "tst_rememberpassword.moc"
