// SPDX-License-Identifier: MIT
// The accounts file with hashed and plain lines, and password checks on worker threads.
#include "Accounts.h"

#include <QtTest>

#include <memory>

namespace {

// Cheap hashes keep the tables fast; one row uses the real parameters.
QByteArray cheapHash(const QByteArray &password)
{
    return PasswordHash::hash(password, 1, 64 * 1024);
}

using Verdict = PasswordVerifier::Verdict;

// Collects verdicts, and which thread delivered them.
struct Verdicts : QObject
{
    QList<Verdict> got;
    bool wrongThread = false;

    PasswordVerifier::Callback callback()
    {
        return [this](Verdict verdict) {
            wrongThread = wrongThread || QThread::currentThread() != thread();
            got << verdict;
        };
    }
    bool waitFor(qsizetype count) { return QTest::qWaitFor([&] { return got.size() >= count; }, 20000); }
};

// The verdict for one login, delivered later on this thread.
Verdict check(const Accounts &accounts, const QByteArray &name, const QByteArray &password)
{
    PasswordVerifier verifier(accounts);
    Verdicts verdicts;
    verifier.verify(name, password, &verdicts, verdicts.callback());
    if (!verdicts.got.isEmpty() || !verdicts.waitFor(1) || verdicts.wrongThread)
        return Verdict::Busy; // answered at once or on another thread: neither is a verdict
    return verdicts.got.first();
}

} // namespace

class tst_secure_accounts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(PasswordHash::initialise()); }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error"); // empty: the file is accepted
        QTest::addColumn<QByteArrayList>("plainNames");
        QTest::addColumn<int>("count");
        const auto row = [](const char *name, const QByteArray &content, const QString &error,
                            const QByteArrayList &plainNames = {}, int count = 0) {
            QTest::newRow(name) << content << error << plainNames << count;
        };
        const QByteArray hash = cheapHash("secret");
        row("hashed and plain lines", "alice:" + hash + "\nbob:hunter2\ncarol:" + hash + "\ndave:pw\n", {},
            {"bob", "dave"}, 4);
        row("comments, blank lines and CRLF", "# accounts\r\n\r\nalice:" + hash + "\r\n#bob:x\r\n", {}, {}, 1);
        row("a plain password may contain colons", "bob:a:b:c\n", {}, {"bob"}, 1);
        row("empty file", "", {});
        row("no colon", "alice:" + hash + "\n\nbob\n", "line 3:");
        row("empty password", "alice:\n", "line 1: empty password");
        row("empty name", "# x\n:pw\n", "line 2: unusable name");
        row("space in name", "al ice:pw\n", "line 1: unusable name");
        row("a name twice", "alice:pw\nbob:pw\nalice:" + hash + "\n", "line 3: the name is already on line 1");
        row("a damaged hash", "alice:$argon2id$v=19$m=oops\n", "line 1: not a hash");
        row("a hash that needs 1 GiB per login",
            "alice:$argon2id$v=19$m=1048576,t=2,p=1$c29tZXNhbHRzb21lc2FsdA$aGFzaGhhc2hoYXNoaGFzaGhhc2hoYXNoaGFzaGhhc2g\n",
            "line 1: the hash needs 1024 MiB per login");
        row("a cut-off hash", "alice:" + hash.left(hash.size() - 10) + "\n", "line 1: not a hash");
    }
    void parse()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QFETCH(QByteArrayList, plainNames);
        QFETCH(int, count);
        QString got;
        const std::optional<Accounts> accounts = Accounts::parse(content, &got);
        if (!error.isEmpty()) {
            QVERIFY(!accounts);
            QVERIFY2(got.startsWith(error), qPrintable(got));
            return;
        }
        QVERIFY2(accounts, qPrintable(got));
        QCOMPARE(accounts->size(), count);
        QCOMPARE(accounts->plainNames(), plainNames);
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("content"); // "-": no file
        QTest::addColumn<QString>("error");      // after the file's path

        QTest::newRow("missing file") << QByteArray("-") << QStringLiteral("cannot read ");
        QTest::newRow("malformed line") << QByteArray("alice:pw\nbob\n") << QStringLiteral(": line 2: expected");
        QTest::newRow("good file") << QByteArray("alice:pw\n") << QString();
    }
    void load()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts.txt"));
        if (content != "-") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        QString got;
        const std::optional<Accounts> accounts = Accounts::load(path, &got);
        QCOMPARE(bool(accounts), error.isEmpty());
        if (accounts) {
            QCOMPARE(accounts->plainNames(), QByteArrayList{"alice"});
            QVERIFY(Accounts::plainWarning("alice").contains(QStringLiteral("--hash-password alice")));
        } else {
            QVERIFY2(got.contains(path) && got.contains(error), qPrintable(got));
        }
    }

    void nameCheckFromCaller()
    {
        const auto noDigits = [](QByteArrayView name) -> QByteArray {
            return name.contains('7') ? "digits" : "";
        };
        QString error;
        QVERIFY(!Accounts::parse("bob:pw\nagent7:pw\n", &error, noDigits));
        QCOMPARE(error, QStringLiteral("line 2: unusable name: digits"));
        QVERIFY(!hashPasswordLine("agent7", "pw", &error, noDigits));
    }

    void hashLine_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("ok");

        QTest::newRow("name and password") << QByteArray("alice") << QByteArray("correct horse") << true;
        QTest::newRow("password with colon and non-ASCII") << QByteArray("bob") << QByteArray("p:ä\x01") << true;
        QTest::newRow("empty password") << QByteArray("alice") << QByteArray() << false;
        QTest::newRow("empty name") << QByteArray() << QByteArray("pw") << false;
        QTest::newRow("colon in name") << QByteArray("a:b") << QByteArray("pw") << false;
    }
    // A printed line is what the file parser reads back as a hashed account
    // with that password, made with the server parameters.
    void hashLine()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, password);
        QFETCH(bool, ok);
        QString error;
        const std::optional<QByteArray> line = hashPasswordLine(name, password, &error);
        QCOMPARE(bool(line), ok);
        if (!ok) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QVERIFY(line->startsWith(name + ":$argon2id$v=19$m=19456,t=2,p=1$"));
        const std::optional<Accounts> accounts = Accounts::parse(*line + "\n");
        QVERIFY(accounts);
        QVERIFY(accounts->plainNames().isEmpty());
        QCOMPARE(check(*accounts, name, password), Verdict::Accepted);
        QCOMPARE(check(*accounts, name, password + "x"), Verdict::Refused);
    }

    void firstLine_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("password");

        QTest::newRow("line end") << QByteArray("pw\n") << QByteArray("pw");
        QTest::newRow("CRLF") << QByteArray("pw\r\n") << QByteArray("pw");
        QTest::newRow("spaces kept") << QByteArray(" p w \nnext\n") << QByteArray(" p w ");
        QTest::newRow("nothing") << QByteArray() << QByteArray();
        QTest::newRow("empty first line") << QByteArray("\npw\n") << QByteArray();
    }
    void firstLine()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, password);
        QCOMPARE(::firstLine(input), password);
    }

    void verify_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("hashed, right password") << QByteArray("alice") << QByteArray("secret") << true;
        QTest::newRow("hashed, wrong password") << QByteArray("alice") << QByteArray("secreT") << false;
        QTest::newRow("hashed, empty password") << QByteArray("alice") << QByteArray() << false;
        QTest::newRow("plain, right password") << QByteArray("bob") << QByteArray("hunter2") << true;
        QTest::newRow("plain, wrong password") << QByteArray("bob") << QByteArray("hunter3") << false;
        QTest::newRow("plain, prefix of the password") << QByteArray("bob") << QByteArray("hunter") << false;
        QTest::newRow("plain, longer password") << QByteArray("bob") << QByteArray("hunter22") << false;
        QTest::newRow("plain, another account's hash as password")
                << QByteArray("bob") << QByteArray("$argon2id$") << false;
        QTest::newRow("unknown name") << QByteArray("mallory") << QByteArray("secret") << false;
        QTest::newRow("unknown name, another account's password")
                << QByteArray("mallory") << QByteArray("hunter2") << false;
        QTest::newRow("name in another case") << QByteArray("Alice") << QByteArray("secret") << false;
        QTest::newRow("real parameters, right password") << QByteArray("carol") << QByteArray("s3cr3t") << true;
        QTest::newRow("real parameters, wrong password") << QByteArray("carol") << QByteArray("s3cr3") << false;
    }
    void verify()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, password);
        QFETCH(bool, accepted);
        const std::optional<Accounts> accounts = Accounts::parse(
                "alice:" + cheapHash("secret") + "\nbob:hunter2\ncarol:" + PasswordHash::hash("s3cr3t") + "\n");
        QVERIFY(accounts);
        QCOMPARE(check(*accounts, name, password), accepted ? Verdict::Accepted : Verdict::Refused);
    }

    // A burst of logins: at most maxParallel hashes run, maxQueued wait, the
    // rest are answered Busy; every request gets exactly one answer.
    void burst_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<int>("queued");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("busy");

        QTest::newRow("all fit") << 2 << 10 << 12 << 0;
        QTest::newRow("queue full") << 2 << 3 << 10 << 5;
        QTest::newRow("no queue") << 1 << 0 << 4 << 3;
    }
    void burst()
    {
        QFETCH(int, parallel);
        QFETCH(int, queued);
        QFETCH(int, requests);
        QFETCH(int, busy);
        const std::optional<Accounts> accounts = Accounts::parse("alice:" + cheapHash("secret") + "\n");
        QVERIFY(accounts);
        PasswordVerifier verifier(*accounts, parallel, queued);
        Verdicts verdicts;
        for (int i = 0; i < requests; ++i) {
            verifier.verify(i % 2 ? "alice" : "nobody", "secret", &verdicts, verdicts.callback());
            QVERIFY(verifier.running() <= parallel);
            QVERIFY(verifier.queued() <= queued);
        }
        QVERIFY(verdicts.got.isEmpty());
        QVERIFY(verdicts.waitFor(requests));
        QTest::qWait(50);
        QCOMPARE(verdicts.got.size(), requests);
        QCOMPARE(verdicts.got.count(Verdict::Busy), busy);
        QCOMPARE(verifier.running(), 0);
        QCOMPARE(verifier.queued(), 0);
    }

    // A connection that closes while its check waits or runs gets no answer,
    // and the verifier goes on with the others.
    void contextGone()
    {
        const std::optional<Accounts> accounts = Accounts::parse("alice:" + cheapHash("secret") + "\n");
        QVERIFY(accounts);
        PasswordVerifier verifier(*accounts, 1, 10);
        Verdicts survivor;
        int calledForGone = 0;
        {
            auto gone = std::make_unique<QObject>();
            for (int i = 0; i < 3; ++i)
                verifier.verify("alice", "secret", gone.get(), [&](Verdict) { ++calledForGone; });
            verifier.verify("alice", "secret", &survivor, survivor.callback());
        }
        QVERIFY(survivor.waitFor(1));
        QCOMPARE(survivor.got.first(), Verdict::Accepted);
        QTest::qWait(50);
        QCOMPARE(calledForGone, 0);
        // The first one was already running; the two that still waited were skipped.
        QCOMPARE(verifier.checksStarted(), quint64(2));
    }

    // Destroying the verifier with hashes running neither crashes nor calls back.
    void destroyedWhileRunning()
    {
        const std::optional<Accounts> accounts = Accounts::parse("alice:" + PasswordHash::hash("secret") + "\n");
        QVERIFY(accounts);
        Verdicts verdicts;
        {
            PasswordVerifier verifier(*accounts, 2, 10);
            for (int i = 0; i < 6; ++i)
                verifier.verify("alice", "secret", &verdicts, verdicts.callback());
        }
        QTest::qWait(100);
        QVERIFY(verdicts.got.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_secure_accounts)
#include "tst_secure_accounts.moc"
