// SPDX-License-Identifier: MIT
#include "outgoing/TypedLine.h"

#include <QTest>

Q_DECLARE_METATYPE(TypedLine::Action)

char *toString(const TypedLine &line)
{
    return QTest::toString(QStringLiteral("action %1, text \"%2\"")
                               .arg(int(line.action))
                               .arg(line.text));
}

class TestTypedLine : public QObject
{
    Q_OBJECT

private slots:
    void interpret_data();
    void interpret();
    void reverse_data();
    void reverse();
    void whisperEcho_data();
    void whisperEcho();
};

void TestTypedLine::interpret_data()
{
    using A = TypedLine::Action;
    QTest::addColumn<QString>("typed");
    QTest::addColumn<A>("action");
    QTest::addColumn<QString>("text");

    // The rows in their order; the window tests send the common cases.
    QTest::newRow("chat") << "hello" << A::Chat << "hello";
    QTest::newRow("leading blank makes chat") << " /quit" << A::Chat << " /quit";
    QTest::newRow("clear with more after it") << "/clearall" << A::Clear << "";
    QTest::newRow("shorter than clear") << "/clea" << A::Command << "/clea";
    QTest::newRow("reverse and a space") << "/reverse " << A::Reverse << "";
    QTest::newRow("reverse skips any one character") << "/reversexabc" << A::Reverse << "cba";
    QTest::newRow("reverse keeps a second space") << "/reverse  ab" << A::Reverse << "ba ";
    QTest::newRow("quit") << "/quit" << A::Quit << "";
    QTest::newRow("join skips any one character") << "/joinxlobby" << A::Join << "/channel lobby";
    QTest::newRow("join keeps a second space") << "/join  lobby" << A::Join << "/channel  lobby";
    QTest::newRow("join is not trimmed") << "/join lobby " << A::Join << "/channel lobby ";
    QTest::newRow("j alone") << "/j" << A::Join << "/channel ";
    QTest::newRow("j catches other j words") << "/jump" << A::Join << "/channel mp";
    QTest::newRow("J in capitals is no command") << "/J lobby" << A::Command << "/J lobby";
    QTest::newRow("slash alone") << "/" << A::Command << "/";
}

void TestTypedLine::interpret()
{
    QFETCH(QString, typed);
    QFETCH(TypedLine::Action, action);
    QFETCH(QString, text);
    QCOMPARE(interpretTypedLine(typed), (TypedLine{action, text}));
}

void TestTypedLine::reverse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reversed");

    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks move too") << " ab" << "ba ";
    QTest::newRow("surrogate pair stays whole") << QString::fromUtf8("a\U0001F600b")
                                                << QString::fromUtf8("b\U0001F600a");
    const QString longText = QString(40000, QLatin1Char('a')) + QLatin1Char('z');
    QTest::newRow("longer than 32767") << longText << QLatin1Char('z') + QString(40000, QLatin1Char('a'));
}

void TestTypedLine::reverse()
{
    QFETCH(QString, text);
    QFETCH(QString, reversed);
    QCOMPARE(reversedText(text), reversed);
}

void TestTypedLine::whisperEcho_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("echoed");
    QTest::addColumn<QString>("echo");

    QTest::newRow("whisper") << "/whisper Alice hi there" << true << "<TO: Alice> hi there";
    QTest::newRow("m") << "/m Bob yo" << true << "<TO: Bob> yo";
    QTest::newRow("text keeps its blanks") << "/whisper Alice  hi " << true << "<TO: Alice>  hi ";
    QTest::newRow("empty text") << "/w Alice " << true << "<TO: Alice> ";
    QTest::newRow("name without text") << "/whisper Alice" << false << "";
    QTest::newRow("no name") << "/whisper  hi" << false << "";
    QTest::newRow("emote") << "/me waves" << false << "";
    QTest::newRow("whois") << "/whois Alice" << false << "";
    QTest::newRow("capitals") << "/W Alice hi" << false << "";
    QTest::newRow("m glued to the name") << "/mAlice hi" << false << "";
}

void TestTypedLine::whisperEcho()
{
    QFETCH(QString, typed);
    QFETCH(bool, echoed);
    QFETCH(QString, echo);
    const std::optional<QString> result = typedWhisperEcho(typed);
    QCOMPARE(result.has_value(), echoed);
    if (echoed)
        QCOMPARE(*result, echo);
}

QTEST_GUILESS_MAIN(TestTypedLine)
#include "tst_typedline.moc"
