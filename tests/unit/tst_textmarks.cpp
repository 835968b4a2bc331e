// SPDX-License-Identifier: MIT
#include "text/TextMarks.h"

#include <QTest>

class tst_textmarks : public QObject
{
    Q_OBJECT

private slots:
    void findLinks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("none") << "no address here" << QStringList{};
        QTest::newRow("http") << "see http://a.example/x?y=1 now" << QStringList{"http://a.example/x?y=1"};
        QTest::newRow("https upper") << "HTTPS://A.EXAMPLE" << QStringList{"HTTPS://A.EXAMPLE"};
        QTest::newRow("www") << "go to www.example.org." << QStringList{"www.example.org"};
        QTest::newRow("two") << "http://a.b, www.c.d" << QStringList{"http://a.b", "www.c.d"};
        QTest::newRow("markup") << "<a href=\"http://evil.example/\">www.x.y</a>"
                                << QStringList{"http://evil.example/", "www.x.y"};
        QTest::newRow("tag around") << "<b>https://b.example/p</b>" << QStringList{"https://b.example/p"};
        QTest::newRow("parenthesised") << "(see http://w.example/A_(b))" << QStringList{"http://w.example/A_(b)"};
        QTest::newRow("inside word") << "xhttp://a.b awww.c.d" << QStringList{};
        QTest::newRow("scheme only") << "http:// and www." << QStringList{};
        QTest::newRow("in brackets") << "[http://a.b/c]" << QStringList{"http://a.b/c"};
        QTest::newRow("ftp not") << "ftp://a.b" << QStringList{};
    }
    void findLinks()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, links);
        QStringList found;
        for (const TextRange &r : ::findLinks(text))
            found << text.mid(r.start, r.length);
        QCOMPARE(found, links);
    }

    void mentionsName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("mentions");
        QTest::newRow("word") << "hi anna!" << "Anna" << true;
        QTest::newRow("start") << "ANNA: there?" << "anna" << true;
        QTest::newRow("inside word") << "annabel and joanna" << "anna" << false;
        QTest::newRow("later whole") << "joanna, anna" << "anna" << true;
        QTest::newRow("underscore joins") << "anna_b" << "anna" << false;
        QTest::newRow("name with brackets") << "hey [x]bo" << "[x]bo" << true;
        QTest::newRow("empty name") << "anything" << "" << false;
    }
    void mentionsName()
    {
        QFETCH(QString, text);
        QFETCH(QString, name);
        QFETCH(bool, mentions);
        QCOMPARE(::mentionsName(text, name), mentions);
    }
};

QTEST_GUILESS_MAIN(tst_textmarks)
#include "tst_textmarks.moc"
