// SPDX-License-Identifier: MIT
#include "support/TestCore.h"
#include "text/SpellChecker.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QStringList kSystemFolders{QStringLiteral("/usr/share/hunspell")};

bool haveEnglish()
{
    return SpellChecker::availableLanguages(kSystemFolders).contains(QStringLiteral("en_US"));
}

QStringList markedWords(const SpellChecker &checker, const QString &line)
{
    QStringList words;
    for (const MisspelledRange &range : checker.misspelled(line))
        words.append(line.mid(range.start, range.length));
    return words;
}
} // namespace

class tst_spellchecker : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    TestStore m_store;

private slots:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral("config"))));
    }

    void marks_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("marked");
        QTest::newRow("correct") << "hello world, how are you?" << QStringList() << QStringList();
        QTest::newRow("typos") << "helo wrld" << QStringList() << QStringList{"helo", "wrld"};
        QTest::newRow("positions after punctuation") << "(helo) ... \"wrld\"!" << QStringList()
                                                     << QStringList{"helo", "wrld"};
        QTest::newRow("empty") << "" << QStringList() << QStringList();
        QTest::newRow("links") << "see https://exmaple.com/foo_bar and www.exmaple.org" << QStringList() << QStringList();
        QTest::newRow("mail address") << "write to bobb@exmaple.com" << QStringList() << QStringList();
        QTest::newRow("numbers and words with digits") << "at 12345 the 3rd abc123 b4" << QStringList() << QStringList();
        QTest::newRow("identifiers") << "set snake_case_wrd" << QStringList() << QStringList();
        QTest::newRow("apostrophes") << "don't 'quoted' it's" << QStringList() << QStringList();
        QTest::newRow("typographic apostrophe") << QString::fromUtf8("don\u2019t") << QStringList() << QStringList();
        QTest::newRow("hyphenated") << "well-known mispeled-word" << QStringList() << QStringList{"mispeled"};
        QTest::newRow("very long run of letters") << "fine " + QString(5000, u'q') + " wrld" << QStringList()
                                                  << QStringList{"wrld"};
        QTest::newRow("single letters") << "I a x" << QStringList() << QStringList();
        QTest::newRow("name addressed") << "zorgbert: how are yuo" << QStringList{"zorgbert"} << QStringList{"yuo"};
        QTest::newRow("name in punctuation") << "@zorgbert, (zorgbert) <zorgbert>" << QStringList{"zorgbert"}
                                             << QStringList();
        QTest::newRow("names are case-sensitive") << "Zorgbert hi" << QStringList{"zorgbert"}
                                                  << QStringList{"Zorgbert"};
        QTest::newRow("name with punctuation") << "[qwx]bot: hi" << QStringList{"[qwx]bot"} << QStringList();
        QTest::newRow("non-latin") << QString::fromUtf8("w\u00f6rdd hello") << QStringList()
                                   << QStringList{QString::fromUtf8("w\u00f6rdd")};
        QTest::newRow("control characters between") << "helo\x01wrld\tfine" << QStringList()
                                                     << QStringList{"helo", "wrld"};
    }
    void marks()
    {
        if (!haveEnglish())
            QSKIP("the en_US dictionary is not installed (Debian package hunspell-en-us)");
        QFETCH(QString, line);
        QFETCH(QStringList, names);
        QFETCH(QStringList, marked);
        SpellChecker checker;
        QVERIFY2(checker.load(QStringLiteral("en_US"), kSystemFolders), qPrintable(checker.notice()));
        checker.setIgnoredNames(QSet<QString>(names.begin(), names.end()));
        QCOMPARE(markedWords(checker, line), marked);
        QCOMPARE(markedWords(checker, line), marked); // the remembered answers agree
    }

    void suggestions()
    {
        if (!haveEnglish())
            QSKIP("the en_US dictionary is not installed (Debian package hunspell-en-us)");
        SpellChecker checker;
        QVERIFY(checker.load(QStringLiteral("en_US"), kSystemFolders));
        QVERIFY(checker.suggestions(QStringLiteral("helo")).contains(QStringLiteral("hello")));
        QVERIFY(checker.suggestions(QStringLiteral("helo"), 2).size() <= 2);
    }

    void languages_data()
    {
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("loaded"); // empty: none
        QTest::newRow("exact") << "en_US" << "en_US";
        QTest::newRow("dash") << "en-US" << "en_US";
        QTest::newRow("with encoding") << "en_US.UTF-8" << "en_US";
        QTest::newRow("language only") << "en" << "en_US";
        QTest::newRow("another country") << "en_GB" << "en_US";
        QTest::newRow("lower case") << "en_us" << "en_US";
        QTest::newRow("missing") << "xx_YY" << "";
    }
    void languages()
    {
        if (!haveEnglish())
            QSKIP("the en_US dictionary is not installed (Debian package hunspell-en-us)");
        QFETCH(QString, asked);
        QFETCH(QString, loaded);
        SpellChecker checker;
        QCOMPARE(checker.load(asked, kSystemFolders), !loaded.isEmpty());
        QCOMPARE(checker.language(), loaded);
        QCOMPARE(checker.isEnabled(), !loaded.isEmpty());
        if (loaded.isEmpty()) {
            QCOMPARE(checker.notice(),
                     QStringLiteral("Spell check is off: no dictionary for xx_YY is installed (Debian: hunspell-xx-yy)."));
            QCOMPARE(checker.misspelled(QStringLiteral("helo")), QList<MisspelledRange>());
        }
    }

    void brokenDictionaries_data()
    {
        QTest::addColumn<QByteArray>("aff");
        QTest::addColumn<QByteArray>("dic");
        QTest::addColumn<QString>("notice");
        QTest::newRow("empty files") << QByteArray() << QByteArray() << "cannot be read or is damaged";
        QTest::newRow("binary word list") << QByteArray("SET UTF-8\n") << QByteArray("\x7f" "ELF\0\0\x01", 7)
                                          << "cannot be read or is damaged";
        QTest::newRow("empty affixes") << QByteArray() << QByteArray("1\nword\n") << "cannot be read or is damaged";
        QTest::newRow("unknown encoding") << QByteArray("SET X-UNKNOWN-9\n") << QByteArray("1\nword\n")
                                          << "uses the encoding X-UNKNOWN-9";
    }
    void brokenDictionaries()
    {
        QFETCH(QByteArray, aff);
        QFETCH(QByteArray, dic);
        QFETCH(QString, notice);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("xx_YY.aff")), aff);
        writeFile(dir.filePath(QStringLiteral("xx_YY.dic")), dic);
        SpellChecker checker;
        QVERIFY(!checker.load(QStringLiteral("xx_YY"), {dir.path()}));
        QVERIFY(!checker.isEnabled());
        QVERIFY2(checker.notice().startsWith(QLatin1String(kSpellOffPrefix)) && checker.notice().contains(notice),
                 qPrintable(checker.notice()));
        QCOMPARE(checker.misspelled(QStringLiteral("anything at all")), QList<MisspelledRange>());
    }

    void latin1Dictionary()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("xx_YY.aff")), "SET ISO8859-1\nTRY a\n");
        writeFile(dir.filePath(QStringLiteral("xx_YY.dic")), "2\nna\xefve\ncaf\xe9\n");
        SpellChecker checker;
        QVERIFY2(checker.load(QStringLiteral("xx_YY"), {dir.path()}), qPrintable(checker.notice()));
        QCOMPARE(markedWords(checker, QString::fromUtf8("na\u00efve caf\u00e9 cafe \u0101bc")),
                 (QStringList{"cafe"})); // U+0101 is not Latin-1: not judged
        QCOMPARE(checker.suggestions(QStringLiteral("cafe")), QStringList{QString::fromUtf8("caf\u00e9")});
    }

    void wordListBesideTheSettings()
    {
        const QSettings store(QSettings::IniFormat, QSettings::UserScope, "VeskChat", "VeskChat");
        QCOMPARE(personalWordListPath(), QFileInfo(store.fileName()).path() + QStringLiteral("/words.txt"));
        QVERIFY(personalWordListPath().startsWith(m_store.path()));
    }

    void personalWordList()
    {
        if (!haveEnglish())
            QSKIP("the en_US dictionary is not installed (Debian package hunspell-en-us)");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config/VeskChat/words.txt"));
        {
            SpellChecker checker;
            QVERIFY(checker.load(QStringLiteral("en_US"), kSystemFolders));
            checker.setPersonalWordList(path);
            QCOMPARE(markedWords(checker, QStringLiteral("qwzzy and Vesk")), (QStringList{"qwzzy", "Vesk"}));
            QVERIFY(checker.addToPersonal(QStringLiteral("qwzzy")));
            QVERIFY(checker.addToPersonal(QStringLiteral("Vesk")));
            QVERIFY(checker.addToPersonal(QStringLiteral("qwzzy"))); // once in the file
            QVERIFY(!checker.addToPersonal(QStringLiteral(" ")));
            QCOMPARE(markedWords(checker, QStringLiteral("qwzzy and Vesk")), QStringList());
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("qwzzy\nVesk\n"));
        SpellChecker later; // the list read before the dictionary, as at start-up
        later.setPersonalWordList(path);
        QVERIFY(later.load(QStringLiteral("en_US"), kSystemFolders));
        QCOMPARE(markedWords(later, QStringLiteral("qwzzy and Vesk qwzzyy")), QStringList{"qwzzyy"});
    }
};

QTEST_GUILESS_MAIN(tst_spellchecker)
#include "tst_spellchecker.moc"
