// SPDX-License-Identifier: MIT
#include "reception/EventLine.h"

#include <QTest>

namespace {

// Lines are written without the carriage return that ends them on arrival.
QString eventLine(const QString &text)
{
    return text + QLatin1Char('\r');
}

const QString kGrin = QStringLiteral("\U0001F600"); // one character, two UTF-16 units

} // namespace

class TestEventLine : public QObject
{
    Q_OBJECT

private slots:
    void flagsPosition_data();
    void flagsPosition();
    void messageFields_data();
    void messageFields();
    void infoText_data();
    void infoText();
    void rosterCuts_data();
    void rosterCuts();
    void channelName_data();
    void channelName();
};

void TestEventLine::flagsPosition_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("nameStart");
    QTest::addColumn<int>("position");

    QTest::newRow("talk") << "1005 kkkk bob 0010 \"hello there\"" << kTalkNameStart << 15;
    QTest::newRow("talk, quotes in text") << "1005 kkkk amy 0002 \"say \"hi\" now\"" << kTalkNameStart << 15;
    QTest::newRow("flag value inside the name") << "1005 kkkk x0010y 0000 \"hi\"" << kTalkNameStart << 18;
    QTest::newRow("flag value inside the text") << "1005 kkkk bob 0010 \"a 0012 b\"" << kTalkNameStart << 15;
    QTest::newRow("talk, empty text") << "1005 kkkk bob 0010 \"\"" << kTalkNameStart << 15;
    QTest::newRow("whisper") << "1004 kkkkkkk bob 0010 \"psst\"" << kWhisperNameStart << 18;
    QTest::newRow("emote") << "1023 kkkkk bob 0010 \"waves\"" << kEmoteNameStart << 16;
    QTest::newRow("user") << "1001 kkkk bob 0010" << kUserNameStart << 15;
    QTest::newRow("user with a tag") << "1001 kkkk amy 0000 [abcd]" << kUserNameStart << 15;
    QTest::newRow("join, flag value inside the name") << "1002 kkkk x0010y 0002" << kUserNameStart << 18;
    QTest::newRow("leave") << "1003 kkkkk bob 0010" << kLeaveNameStart << 16;
    QTest::newRow("operator flags") << "1001 kkkk op 0001" << kUserNameStart << 14;
    QTest::newRow("upper-case hex flags") << "1005 kkkk bob 00A0 \"x\"" << kTalkNameStart << 15;
    QTest::newRow("lower-case hex flags") << "1005 kkkk bob ffff \"x\"" << kTalkNameStart << 15;
    QTest::newRow("a name that looks like flags") << "1005 kkkk 0010 0000 \"x\"" << kTalkNameStart << 16;
    QTest::newRow("wide character in the keyword") << "1005 k" + kGrin + "kk bob 0010 \"x\"" << kTalkNameStart << 15;
    QTest::newRow("no flags") << "1005 kkkk bob \"hi\"" << kTalkNameStart << 0;
    QTest::newRow("five digits") << "1005 kkkk bob 00100 \"hi\"" << kTalkNameStart << 0;
    QTest::newRow("flags not followed by a space") << "1005 kkkk bob 0010\"hi\"" << kTalkNameStart << 0;
    QTest::newRow("not a hex digit") << "1005 kkkk bob 001g \"hi\"" << kTalkNameStart << 0;
    QTest::newRow("flags before the name") << "1005 0010 bob" << kTalkNameStart << 0;
    QTest::newRow("code only") << "1005" << kTalkNameStart << 0;
    QTest::newRow("empty") << "" << kTalkNameStart << 0;
}

void TestEventLine::flagsPosition()
{
    QFETCH(QString, line);
    QFETCH(int, nameStart);
    QFETCH(int, position);
    QCOMPARE(FindFlagsPos(eventLine(line), nameStart), position);
}

void TestEventLine::messageFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("nameStart");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("talk") << "1005 kkkk bob 0010 \"hello there\"" << kTalkNameStart << true << "bob"
                          << "hello there";
    QTest::newRow("talk, quotes in text") << "1005 kkkk amy 0002 \"say \"hi\" now\"" << kTalkNameStart << true
                                          << "amy" << "say \"hi\" now";
    QTest::newRow("flag value inside the name") << "1005 kkkk x0010y 0000 \"hi\"" << kTalkNameStart << true
                                                << "x0010y" << "hi";
    QTest::newRow("talk, empty text") << "1005 kkkk bob 0010 \"\"" << kTalkNameStart << true << "bob" << "";
    QTest::newRow("whisper") << "1004 kkkkkkk bob 0010 \"psst\"" << kWhisperNameStart << true << "bob" << "psst";
    QTest::newRow("whisper, quotes in text") << "1004 kkkkkkk amy 0000 \"say \"hi\" now\"" << kWhisperNameStart
                                             << true << "amy" << "say \"hi\" now";
    QTest::newRow("emote") << "1023 kkkkk bob 0010 \"waves\"" << kEmoteNameStart << true << "bob" << "waves";
    QTest::newRow("wide character in the keyword") << "1005 k" + kGrin + "kk bob 0010 \"x\"" << kTalkNameStart
                                                   << true << "bob" << "x";
    QTest::newRow("wide character in the text") << "1005 kkkk bob 0010 \"" + kGrin + "\"" << kTalkNameStart
                                                << true << "bob" << kGrin;
    QTest::newRow("wide character as the opening quote") << "1005 kkkk bob 0010 " + kGrin + "hi\""
                                                         << kTalkNameStart << true << "bob" << "hi";
    QTest::newRow("wide character as the closing quote") << "1005 kkkk bob 0010 \"hi" + kGrin
                                                         << kTalkNameStart << true << "bob" << "hi";
    QTest::newRow("quote only") << "1005 kkkk bob 0010 \"" << kTalkNameStart << false << "" << "";
    QTest::newRow("space only") << "1005 kkkk bob 0010 " << kTalkNameStart << false << "" << "";
    QTest::newRow("no text") << "1005 kkkk bob 0010" << kTalkNameStart << false << "" << "";
    QTest::newRow("no flags") << "1005 kkkk bob \"hi\"" << kTalkNameStart << false << "" << "";
    QTest::newRow("code only") << "1005" << kTalkNameStart << false << "" << "";
}

void TestEventLine::messageFields()
{
    QFETCH(QString, line);
    QFETCH(int, nameStart);
    QFETCH(bool, cut);
    QFETCH(QString, name);
    QFETCH(QString, text);

    const std::optional<MessageFields> fields = cutMessage(eventLine(line), nameStart);
    QCOMPARE(fields.has_value(), cut);
    if (fields) {
        QCOMPARE(fields->name, name);
        QCOMPARE(fields->text, text);
    }
}

void TestEventLine::infoText_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");

    QTest::newRow("quoted") << "1018 kkkk \"Welcome aboard.\"" << "Welcome aboard.";
    QTest::newRow("three quoted parts") << "1018 kkkk \"a\" b \"c\"" << "a\" b \"c";
    QTest::newRow("no quotes") << "1018 kkkk no quotes" << "";
    QTest::newRow("one quote") << "1018 kkkk \"open" << "";
    QTest::newRow("empty quotes") << "1018 kkkk \"\"" << "";
    QTest::newRow("code only") << "1018" << "";
}

void TestEventLine::infoText()
{
    QFETCH(QString, line);
    QFETCH(QString, text);
    QCOMPARE(cutInfoText(eventLine(line)), text);
}

void TestEventLine::rosterCuts_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("result");

    QTest::newRow("user") << "1001 kkkk bob 0010" << true << "bob ";
    QTest::newRow("user with a tag") << "1001 kkkk amy 0000 [abcd]" << true << "amy ";
    QTest::newRow("join, flag value inside the name") << "1002 kkkk x0010y 0002" << true << "x0010y ";
    QTest::newRow("join, squelched user") << "1002 kkkk bob 0020" << true << "bob ";
    QTest::newRow("user without flags") << "1001 kkkk bob" << false << "";
    QTest::newRow("leave") << "1003 kkkkk bob 0010" << true << "bob";
    QTest::newRow("leave, case kept") << "1003 kkkkk Amy 0000" << true << "Amy";
    QTest::newRow("leave, flag value inside the name") << "1003 kkkkk x0010y 0002" << true << "x0010y";
    QTest::newRow("leave without flags") << "1003 kkkkk bob" << false << "";
    QTest::newRow("leave, code only") << "1003" << false << "";
}

void TestEventLine::rosterCuts()
{
    QFETCH(QString, line);
    QFETCH(bool, cut);
    QFETCH(QString, result);

    const std::optional<QString> value =
        line.startsWith(QLatin1String("1003")) ? cutLeaveKey(eventLine(line)) : cutRosterEntry(eventLine(line));
    QCOMPARE(value.has_value(), cut);
    if (value)
        QCOMPARE(*value, result);
}

void TestEventLine::channelName_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QString>("channel");

    QTest::newRow("lobby") << "1007 kkkkkkk \"Lobby\"" << true << "Lobby";
    QTest::newRow("spaces in the name") << "1007 kkkkkkk \"Public Chat 1\"" << true << "Public Chat 1";
    QTest::newRow("empty quotes, L = 16") << "1007 kkkkkkk \"\"" << true << "";
    QTest::newRow("L = 15") << "1007 kkkkkkk \"" << false << "";
    QTest::newRow("code only") << "1007" << false << "";
    QTest::newRow("wide closing character") << "1007 kkkkkkk \"Lobby" + kGrin << true << "Lobby";
}

void TestEventLine::channelName()
{
    QFETCH(QString, line);
    QFETCH(bool, cut);
    QFETCH(QString, channel);

    const std::optional<QString> name = cutChannelName(eventLine(line));
    QCOMPARE(name.has_value(), cut);
    if (name)
        QCOMPARE(*name, channel);
}

QTEST_GUILESS_MAIN(TestEventLine)
#include "tst_eventline.moc"
