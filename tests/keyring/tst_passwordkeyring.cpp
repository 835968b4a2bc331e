// SPDX-License-Identifier: MIT
// The keyring against a real Secret Service on a private session bus. Run by
// run.sh, which runs it twice: VESK_KEYRING=absent on a bus with no keyring,
// VESK_KEYRING=present beside a GNOME Keyring daemon it started.
#include "keyring/PrivateKeyring.h"

#include <qt6keychain/keychain.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class tst_passwordkeyring : public QObject
{
    Q_OBJECT

    PasswordKeyring keyring;

    std::pair<bool, QString> readBack(const QString &key) { return storedPassword(keyring, key); }

    bool writeAndWait(const QString &key, const QString &password)
    {
        QSignalSpy written(&keyring, &PasswordKeyring::passwordWritten);
        QSignalSpy failed(&keyring, &PasswordKeyring::failed);
        keyring.write(key, password);
        // Where no keyring can be reached, QtKeychain may fall back to a plain
        // file; on a machine whose keyring library loads, that never shows, so
        // the job itself is asked.
        const auto jobs = keyring.findChildren<QKeychain::Job *>();
        if (jobs.isEmpty() || jobs.last()->insecureFallback()) {
            qWarning() << "the write job may keep the password in a plain file";
            return false;
        }
        const bool answered = QTest::qWaitFor([&] { return written.size() + failed.size() > 0; }, 10000);
        if (!failed.isEmpty())
            qWarning() << "write failed:" << failed.first().at(1).toString();
        return answered && written.size() == 1 && failed.isEmpty();
    }

    bool removeAndWait(const QString &key)
    {
        QSignalSpy removed(&keyring, &PasswordKeyring::passwordRemoved);
        QSignalSpy failed(&keyring, &PasswordKeyring::failed);
        keyring.remove(key);
        return QTest::qWaitFor([&] { return removed.size() + failed.size() > 0; }, 10000) && removed.size() == 1
               && failed.isEmpty();
    }

    // What the Secret Service itself holds under QtKeychain's attributes, read with secret-tool.
    QByteArray secretToolLookup(const QString &key)
    {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("secret-tool"));
        if (tool.isEmpty())
            return "<no secret-tool>";
        QProcess process;
        process.start(tool, {"lookup", "server", PasswordKeyring::kService, "user", key});
        process.waitForFinished(10000);
        return process.readAllStandardOutput();
    }

private slots:
    void absentKeyring()
    {
        if (!keyringIs("absent"))
            QSKIP("needs a session bus without a keyring (tests/keyring/run.sh)");
        QSignalSpy known(&keyring, &PasswordKeyring::availabilityKnown);
        keyring.checkAvailability();
        QTRY_COMPARE_WITH_TIMEOUT(known.size(), 1, 10000);
        QCOMPARE(known.first().at(0).toBool(), false);
        QVERIFY(!known.first().at(1).toString().isEmpty());
        QCOMPARE(keyring.availability(), PasswordKeyring::Availability::Unavailable);

        // A write anyway fails, and leaves the password nowhere.
        QVERIFY(!writeAndWait(PasswordKeyring::keyFor("alice", "localhost:6113"), QStringLiteral("absent-Secret-1")));
        QCOMPARE(filesHolding("absent-Secret-1"), QStringList());
    }

    void availableKeyring()
    {
        if (!keyringIs("present"))
            QSKIP("needs a private Secret Service (tests/keyring/run.sh)");
        QSignalSpy known(&keyring, &PasswordKeyring::availabilityKnown);
        keyring.checkAvailability();
        QTRY_COMPARE_WITH_TIMEOUT(known.size(), 1, 10000);
        QCOMPARE(known.first().at(0).toBool(), true);
        QCOMPARE(keyring.availability(), PasswordKeyring::Availability::Available);
        QVERIFY(keyring.unavailableReason().isEmpty());
    }

    void rememberFillOverwriteForget_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("replacement");
        QTest::newRow("plain") << "hunter2-Plain" << "hunter3-Plain";
        QTest::newRow("non-ASCII") << QString::fromUtf8("pässwörd-€-密码") << QString::fromUtf8("ünïcode-2");
        QTest::newRow("quotes and spaces") << "a \"quoted\" pass word;" << "b 'other'\\";
        QTest::newRow("long") << QString(4000, 'x') + "-Long" << QString(10, 'y') + "-Long";
    }

    void rememberFillOverwriteForget()
    {
        if (!keyringIs("present"))
            QSKIP("needs a private Secret Service (tests/keyring/run.sh)");
        QFETCH(QString, password);
        QFETCH(QString, replacement);
        const QString key = PasswordKeyring::keyFor("alice", QStringLiteral("chat.example:%1").arg(QTest::currentDataTag()));

        QCOMPARE(readBack(key), std::make_pair(false, QString()));
        QVERIFY(writeAndWait(key, password));
        QCOMPARE(readBack(key), std::make_pair(true, password));
        // The Secret Service really holds it, and no file holds it in the clear.
        QCOMPARE(QString::fromUtf8(secretToolLookup(key)), password);
        QCOMPARE(filesHolding(password.toUtf8()), QStringList());

        QVERIFY(writeAndWait(key, replacement));
        QCOMPARE(readBack(key), std::make_pair(true, replacement));

        QVERIFY(removeAndWait(key));
        QCOMPARE(readBack(key), std::make_pair(false, QString()));
        QCOMPARE(secretToolLookup(key), QByteArray());
        // Forgetting what is not stored is no failure.
        QVERIFY(removeAndWait(key));
    }

    // Each name on each server has an entry of its own.
    void entriesAreKeyedByNameAndServer()
    {
        if (!keyringIs("present"))
            QSKIP("needs a private Secret Service (tests/keyring/run.sh)");
        const QString a = PasswordKeyring::keyFor("alice", "one.example:6113");
        const QString b = PasswordKeyring::keyFor("bob", "one.example:6113");
        const QString c = PasswordKeyring::keyFor("alice", "two.example:6113");
        QVERIFY(writeAndWait(a, "pw-a"));
        QVERIFY(writeAndWait(b, "pw-b"));
        QVERIFY(writeAndWait(c, "pw-c"));
        QCOMPARE(readBack(a), std::make_pair(true, QStringLiteral("pw-a")));
        QCOMPARE(readBack(b), std::make_pair(true, QStringLiteral("pw-b")));
        QCOMPARE(readBack(c), std::make_pair(true, QStringLiteral("pw-c")));
        QVERIFY(removeAndWait(b));
        QCOMPARE(readBack(a), std::make_pair(true, QStringLiteral("pw-a")));
        QCOMPARE(readBack(b), std::make_pair(false, QString()));
        QCOMPARE(readBack(c), std::make_pair(true, QStringLiteral("pw-c")));
    }
};

QTEST_GUILESS_MAIN(tst_passwordkeyring)
#include "tst_passwordkeyring.moc"
