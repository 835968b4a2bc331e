// SPDX-License-Identifier: MIT
#include "session/KnownHosts.h"
#include "support/TestCore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray key(const char *seed)
{
    return QCryptographicHash::hash(seed, QCryptographicHash::Sha256);
}

QByteArray pinLine(const char *hostPort, const QByteArray &fingerprint)
{
    return QByteArray(hostPort) + " sha256/" + fingerprint.toBase64() + "\n";
}

} // namespace

class tst_knownhosts : public QObject
{
    Q_OBJECT

    TestStore store;
    QTemporaryDir dir;
    QString path;

    void writeFile(const QByteArray &content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), content.size());
    }
    QByteArray fileContent()
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private slots:
    void init()
    {
        path = dir.filePath(QStringLiteral("known_hosts"));
        QFile::remove(path);
    }

    void fingerprintForms_data()
    {
        const QByteArray k = key("a");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("fingerprint");
        QTest::newRow("base64") << "sha256/" + k.toBase64() << k;
        QTest::newRow("hex with colons, as shown") << fingerprintText(k).toLatin1() << k;
        QTest::newRow("hex lower case, no colons") << k.toHex() << k;
        QTest::newRow("base64 too short") << "sha256/" + k.left(31).toBase64() << QByteArray();
        QTest::newRow("base64 with junk") << "sha256/" + k.toBase64().replace(3, 1, "*") << QByteArray();
        QTest::newRow("other hash") << "sha1/" + k.left(20).toBase64() << QByteArray();
        QTest::newRow("hex one digit short") << k.toHex().chopped(1) << QByteArray();
        QTest::newRow("hex not hex") << k.toHex().replace(0, 1, "g") << QByteArray();
        QTest::newRow("colons misplaced") << ":" + k.toHex(':').chopped(1) << QByteArray();
        QTest::newRow("some colons only") << k.toHex().insert(2, ':') << QByteArray();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void fingerprintForms()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, fingerprint);
        QCOMPARE(parseFingerprint(text), fingerprint);
    }

    void shownAsColonHex()
    {
        QCOMPARE(fingerprintText(QByteArray::fromHex("00ff1a")), QStringLiteral("00:FF:1A"));
    }

    // A file on disk, then one lookup: what it says about the key "a" for 127.0.0.1:6113.
    void lookupFromFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QByteArray>("pinned");
        QTest::addColumn<bool>("damaged");
        const QByteArray a = key("a"), b = key("b"), here = "127.0.0.1:6113 ";
        const int unknown = int(PinVerdict::Unknown), trusted = int(PinVerdict::Trusted), changed = int(PinVerdict::Changed);
        const auto row = [](const char *name, const QByteArray &content, int verdict, const QByteArray &pinned = {},
                            bool damaged = false) { QTest::newRow(name) << content << verdict << pinned << damaged; };
        row("no file", "<none>", unknown);
        row("empty file", "", unknown);
        row("pinned", pinLine("127.0.0.1:6113", a), trusted);
        row("pinned, CR LF and comments", "# trusted servers\r\n\r\n" + pinLine("127.0.0.1:6113", a).replace("\n", "\r\n"),
            trusted);
        row("pinned as hex", here + a.toHex(':') + "\n", trusted);
        row("changed", pinLine("127.0.0.1:6113", b), changed, b);
        row("other port is another server", pinLine("127.0.0.1:6112", b), unknown);
        row("other host is another server", pinLine("localhost:6113", b), unknown);
        row("two pins, one matches", pinLine("127.0.0.1:6113", b) + pinLine("127.0.0.1:6113", a), trusted);
        row("damaged line trusts nothing", here + "sha256/AAAA\n", unknown, {}, true);
        row("damaged line beside a changed pin", here + a.toHex().chopped(2) + "\n" + pinLine("127.0.0.1:6113", b),
            changed, b, true);
        row("host without port", "127.0.0.1 sha256/" + a.toBase64() + "\n", unknown, {}, true);
        row("scheme on host", "tls://127.0.0.1:6113 sha256/" + a.toBase64() + "\n", unknown, {}, true);
        row("a third field", pinLine("127.0.0.1:6113", a).chopped(1) + " extra\n", unknown, {}, true);
        row("binary, then a pin", QByteArray("\x00\xff\xfe\n", 4) + pinLine("127.0.0.1:6113", a), trusted, {}, true);
        row("a wildcard is not a host", "* sha256/" + a.toBase64() + "\n", unknown, {}, true);
    }

    void lookupFromFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, verdict);
        QFETCH(QByteArray, pinned);
        QFETCH(bool, damaged);
        if (content != "<none>")
            writeFile(content);
        KnownHosts hosts(path);
        const PinLookup result = hosts.lookup(QStringLiteral("127.0.0.1:6113"), key("a"));
        QCOMPARE(int(result.verdict), verdict);
        QCOMPARE(result.pinned, pinned);
        const QString report = hosts.takeDamageReport();
        QCOMPARE(!report.isEmpty(), damaged);
        if (damaged)
            QVERIFY2(report.contains(path), qPrintable(report));
        // Reported once, however often the file is read again.
        hosts.lookup(QStringLiteral("127.0.0.1:6113"), key("a"));
        QVERIFY(hosts.takeDamageReport().isEmpty());
    }

    void damageNamesTheLines()
    {
        writeFile("# ok\nbad one\n" + pinLine("h:1", key("a")) + "bad two\n");
        KnownHosts hosts(path);
        hosts.lookup(QStringLiteral("h:1"), key("a"));
        const QString report = hosts.takeDamageReport();
        QVERIFY2(report.contains(QStringLiteral("2 lines")) && report.contains(QStringLiteral("line 2, 4")), qPrintable(report));
        // A new damage is reported again.
        writeFile("bad three\n");
        hosts.lookup(QStringLiteral("h:1"), key("a"));
        QVERIFY(hosts.takeDamageReport().contains(QStringLiteral("line 1")));
    }

    void pinThenLookup()
    {
        KnownHosts hosts(path);
        QVERIFY(hosts.pin(QStringLiteral("[::1]:6113"), key("a")));
        QCOMPARE(int(hosts.lookup(QStringLiteral("[::1]:6113"), key("a")).verdict), int(PinVerdict::Trusted));
        // Another instance (another window) reads what this one wrote.
        KnownHosts other(path);
        QCOMPARE(int(other.lookup(QStringLiteral("[::1]:6113"), key("b")).verdict), int(PinVerdict::Changed));
        QCOMPARE(fileContent(), pinLine("[::1]:6113", key("a")));
    }

    void pinReplacesAndKeepsTheRest()
    {
        const QByteArray before = "# mine\n" + pinLine("a:1", key("a")) + "not a pin\n" + pinLine("b:2", key("b"))
                                  + pinLine("a:1", key("c"));
        writeFile(before);
        KnownHosts hosts(path);
        QVERIFY(hosts.pin(QStringLiteral("a:1"), key("z")));
        QCOMPARE(fileContent(), "# mine\n" + pinLine("a:1", key("z")) + "not a pin\n" + pinLine("b:2", key("b")));
        QVERIFY(hosts.forget(QStringLiteral("a:1")));
        QCOMPARE(fileContent(), "# mine\nnot a pin\n" + pinLine("b:2", key("b")));
        QCOMPARE(int(hosts.lookup(QStringLiteral("a:1"), key("z")).verdict), int(PinVerdict::Unknown));
        QVERIFY(hosts.forget(QStringLiteral("nothing:9")));
    }

    void savedIntoAFolderThatDoesNotExistYet()
    {
        KnownHosts hosts(dir.filePath(QStringLiteral("new/folder/known_hosts")));
        QVERIFY(hosts.pin(QStringLiteral("h:1"), key("a")));
        QCOMPARE(int(hosts.lookup(QStringLiteral("h:1"), key("a")).verdict), int(PinVerdict::Trusted));
    }

    // A file where the folder should be: the file cannot be made (permissions
    // would not stop a test run as root).
    void unwritableFolderFailsAndSaysWhy()
    {
        writeFile("x");
        KnownHosts hosts(path + QStringLiteral("/known_hosts"));
        QVERIFY(!hosts.pin(QStringLiteral("h:1"), key("a")));
        QVERIFY(!hosts.lastError().isEmpty());
        QCOMPARE(fileContent(), QByteArray("x"));
    }

    void unreadableFileTrustsNothing()
    {
        QVERIFY(QDir().mkpath(path));
        KnownHosts hosts(path);
        QCOMPARE(int(hosts.lookup(QStringLiteral("h:1"), key("a")).verdict), int(PinVerdict::Unknown));
        QVERIFY(hosts.takeDamageReport().contains(QStringLiteral("cannot be read")));
        QVERIFY(!hosts.pin(QStringLiteral("h:2"), key("b")));
        QVERIFY(QDir().rmdir(path));
    }

    void oversizedFileIsReadInPartAndNotRewritten()
    {
        QByteArray big = pinLine("h:1", key("a"));
        big += QByteArray(2 * 1024 * 1024, '#') + "\n" + pinLine("h:2", key("b"));
        writeFile(big);
        KnownHosts hosts(path);
        QCOMPARE(int(hosts.lookup(QStringLiteral("h:1"), key("a")).verdict), int(PinVerdict::Trusted));
        QCOMPARE(int(hosts.lookup(QStringLiteral("h:2"), key("b")).verdict), int(PinVerdict::Unknown));
        QVERIFY(hosts.takeDamageReport().contains(QStringLiteral("larger than")));
        QVERIFY(!hosts.pin(QStringLiteral("h:3"), key("c")));
        QCOMPARE(fileContent().size(), big.size());
    }

    void defaultPathIsBesideTheSettings()
    {
        QCOMPARE(QFileInfo(KnownHosts::defaultPath()).absolutePath(), QFileInfo(store.path() + "/VeskChat").absoluteFilePath());
    }
};

QTEST_GUILESS_MAIN(tst_knownhosts)
#include "tst_knownhosts.moc"
