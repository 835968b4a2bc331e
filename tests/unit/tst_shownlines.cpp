// SPDX-License-Identifier: MIT
// What a session makes of a received slice, without a network or a window:
// one batch of lines ready to show, each with its pane, kind, body as
// received and mention flag, passed to the filters around the window.
#include "session/ChatLink.h"
#include "session/ChatSession.h"
#include "support/TestCore.h"

#include <QTest>

namespace {
// Records the order in which a batch reaches the filters and the window.
class OrderFilter : public ShownLineFilter
{
public:
    OrderFilter(QStringList &trace, const char *name) : m_trace(trace), m_name(name) {}
    void linesReady(const ShownLines &lines) override
    {
        m_trace << QStringLiteral("%1 ready %2").arg(m_name).arg(lines.lines().size());
    }
    void batchShown() override { m_trace << QStringLiteral("%1 shown").arg(m_name); }

private:
    QStringList &m_trace;
    QString m_name;
};

QString describe(const ShownLines &lines, const ShownLine &line)
{
    static const char *const kinds[] = {"talk", "whisper", "emote", "info", "channel", "unparsed", "notice"};
    return QStringLiteral("%1 %2%3: %4")
        .arg(line.pane == ShownLine::Pane::Chat ? "chat" : "whispers", kinds[int(line.kind)],
             line.mentionsUser ? " (mention)" : "")
        .arg(lines.body(line));
}
} // namespace

class tst_shownlines : public QObject
{
    Q_OBJECT

    TestStore store;

private slots:
    void oneSlice_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("talk, whisper, emote, info")
            << QByteArray("1005 TALK bo 0010 \"hi\"\r\n1004 WHISPER cy 0010 \"psst\"\r\n"
                          "1023 EMOTE bo 0010 \"waves\"\r\n1018 INFO \"welcome\"\r\n")
            << QStringList{"chat talk: <bo> hi", "whispers whisper: <FROM: cy> psst", "chat emote: <bo waves> ",
                           "chat info: welcome"};
        QTest::newRow("mentions, the user's own line is none")
            << QByteArray("1005 TALK bo 0010 \"hi TESTER\"\r\n1005 TALK Tester 0010 \"I am tester\"\r\n"
                          "1005 TALK bo 0010 \"testers\"\r\n1023 EMOTE bo 0010 \"pokes tester\"\r\n"
                          "1004 WHISPER bo 0010 \"tester\"\r\n")
            << QStringList{"chat talk (mention): <bo> hi TESTER", "chat talk: <Tester> I am tester",
                           "chat talk: <bo> testers", "chat emote (mention): <bo pokes tester> ",
                           "whispers whisper: <FROM: bo> tester"};
        // The body is the text as received: the display rules come later, where it is drawn.
        QTest::newRow("mentions found in the text as received")
            << QByteArray("1005 TALK bo 0010 \"tester \xE2\x80\xAE ok\"\r\n1005 TALK bo 0010 \"a\x01 tester\"\r\n"
                          "1005 TALK bo 0010 \"then tester\"\r\n")
            << QStringList{QString::fromUtf8("chat talk (mention): <bo> tester \u202E ok"),
                           "chat talk (mention): <bo> a\x01 tester", "chat talk (mention): <bo> then tester"};
        QTest::newRow("channel and users")
            << QByteArray("1007 CHANNEL \"Lobby\"\r\n1001 USER bo 0010\r\n1002 JOIN cy 0010\r\n1003 LEAVE bo\r\n")
            << QStringList{"chat channel: Joining Channel Lobby."};
    }
    void oneSlice()
    {
        QFETCH(QByteArray, received);
        QFETCH(QStringList, shown);
        ChatSession session;
        session.setLoginName(QStringLiteral("Tester"));
        QStringList trace;
        OrderFilter first(trace, "first"), second(trace, "second");
        session.addFilter(&first);
        session.addFilter(&second);
        QStringList lines;
        connect(&session, &ChatSession::linesReady, this, [&](const ShownLines &batch) {
            trace << QStringLiteral("window %1").arg(batch.lines().size());
            for (const ShownLine &line : batch.lines())
                lines << describe(batch, line);
        });
        session.link()->feedBytesForTesting(received);
        QCOMPARE(lines, shown);
        const QString n = QString::number(shown.size());
        QCOMPARE(trace, (QStringList{"first ready " + n, "second ready " + n, "window " + n, "first shown",
                                     "second shown"}));
    }

    void alerts_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QString>("alert");
        QTest::newRow("whisper") << QByteArray("1004 WHISPER cy 0010 \"psst\"\r\n") << "whisper: Whisper from cy: psst";
        QTest::newRow("mention") << QByteArray("1005 TALK bo 0010 \"hi tester\"\r\n")
                                 << "mention: bo mentioned you: hi tester";
        QTest::newRow("name shown by the rules")
            << QByteArray("1005 TALK b\xE2\x80\xAEo 0010 \"tester\"\r\n")
            << QString::fromUtf8("mention: b\uFFFDo mentioned you: tester");
        QTest::newRow("plain talk") << QByteArray("1005 TALK bo 0010 \"hi\"\r\n") << "";
        QTest::newRow("info") << QByteArray("1018 INFO \"tester\"\r\n") << "";
    }
    void alerts()
    {
        QFETCH(QByteArray, received);
        QFETCH(QString, alert);
        ChatSession session;
        session.setLoginName(QStringLiteral("Tester"));
        QStringList alerts;
        connect(&session, &ChatSession::linesReady, this, [&](const ShownLines &batch) {
            for (const ShownLine &line : batch.lines()) {
                if (const std::optional<LineAlert> a = alertFor(line))
                    alerts << QStringLiteral("%1: %2: %3")
                                  .arg(a->kind == LineAlert::Kind::Whisper ? "whisper" : "mention", a->summary, a->body);
            }
        });
        session.link()->feedBytesForTesting(received);
        QCOMPARE(alerts, alert.isEmpty() ? QStringList() : QStringList{alert});
    }

    // A line the session shows while a batch is handed on follows as a batch of its own.
    void lineShownDuringABatchFollowsIt()
    {
        ChatSession session;
        QList<QStringList> batches;
        connect(&session, &ChatSession::linesReady, this, [&](const ShownLines &batch) {
            QStringList lines;
            for (const ShownLine &line : batch.lines())
                lines << batch.body(line).toString();
            batches << lines;
            if (batches.size() == 1)
                session.showNotice(QStringLiteral("later"));
        });
        session.link()->feedBytesForTesting("1018 INFO \"one\"\r\n1018 INFO \"two\"\r\n");
        QCOMPARE(batches, (QList<QStringList>{{"one", "two"}, {"later"}}));
    }
};

QTEST_MAIN(tst_shownlines)
#include "tst_shownlines.moc"
