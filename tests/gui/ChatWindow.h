// SPDX-License-Identifier: MIT
// A main window with empty panes, whose socket is linked to a FakeServer
// without the login dialogs, and whose idle timer only the test drives. Tests
// reach the window's controls and session through this fixture only.
#pragma once

#include "reception/RosterModel.h"
#include "session/ChatLink.h"
#include "session/ChatSession.h"
#include "session/GatewayPort.h"
#include "support/TestSupport.h"
#include "ui/DisplayPane.h"
#include "ui/PaneMarks.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextLayout>

// What every main-window test starts from: call reset() in init().
struct WindowTestState {
    TestStore store;
    FixedClock clock;
    void reset()
    {
        TestStore::clear();
        setEndProgramForTesting({});
    }
};

// The design's buttons, by name, for data-driven tests.
inline QPushButton *designButton(const TorvalMain::Controls &c, const QString &name)
{
    const std::pair<const char *, QPushButton *> buttons[] = {
        {"Connect", c.Connect}, {"Disconnect", c.Disconnect}, {"cmdChannel", c.cmdChannel}, {"About", c.About},
        {"Quit", c.Quit},       {"cmdIdle", c.cmdIdle},       {"cmdHelp", c.cmdHelp},       {"Slap", c.Slap},
        {"Kick", c.Kick},       {"Squelch", c.Squelch},       {"UnSquelch", c.UnSquelch},   {"Ban", c.Ban},
        {"Whisper", c.Whisper}, {"Whois", c.Whois},           {"Send", c.Send}};
    for (const auto &[buttonName, button] : buttons)
        if (name == QLatin1String(buttonName))
            return button;
    qFatal("no button %s", qPrintable(name));
}

class ChatWindow
{
public:
    // Whether the window shows the chat log's earlier lines on connecting, as
    // its settings say; off by default, so that what one test logged does not
    // show up in the panes of the next.
    enum class Replay { Off, AsSet };

    explicit ChatWindow(Replay replay = Replay::Off)
    {
        if (replay == Replay::Off)
            session()->setReplay(QString(), 0);
        session()->setLoginName(QStringLiteral("Tester"));
        ui.TimerIdle->stop();
        chatPane()->clear();
        whisperPane()->clear();
    }

    // Logs in as Tester to the server (as 127.0.0.1) without the dialogs; false when it cannot connect.
    bool login(const QString &password = QStringLiteral("s3cret"))
    {
        session()->setServerAddress(QStringLiteral("127.0.0.1"));
        session()->setLoginName(QStringLiteral("Tester"));
        session()->setLoginPassword(password);
        if (!connectNow())
            return false;
        window.ProceedLogin();
        return true;
    }
    // Dials the test server the way Connect does, without its dialogs.
    void startConnecting()
    {
        if (session()->ServerAddress().isEmpty())
            session()->setServerAddress(QStringLiteral("127.0.0.1"));
        session()->setPort(server.port());
        session()->open();
    }
    bool connectNow()
    {
        startConnecting();
        return socket()->waitForConnected() && server.waitForClient();
    }
    // Connect with the dialogs answered by answerConnectDialogs or onModal, dialling port.
    void clickConnect(quint16 port)
    {
        session()->setPort(port);
        ui.Connect->click();
    }

    // Everything sent since the last call: a marker written now arrives last.
    QByteArray sent()
    {
        const QByteArray marker("\x01" "end of test step\r\n");
        socket()->write(marker);
        if (!QTest::qWaitFor([&] { return server.received().endsWith(marker); }))
            return "(marker never arrived)";
        return server.take().chopped(marker.size());
    }

    // The server sends bytes and then a marker line; true once the marker shows in the chat pane.
    bool receive(const QByteArray &bytes)
    {
        const int blocks = chatPane()->blockCount();
        server.send(bytes + "1018 kkkk \"marker\"\r\n");
        return QTest::qWaitFor(
            [&] { return chatPane()->blockCount() > blocks && chatPane()->toPlainText().endsWith(u"marker\n"); }, 60000);
    }

    void tick() { window.TimerIdle_Timer(); }

    ChatSession *session() { return window.session(); }
    QTcpSocket *socket() { return window.link()->socket(); }
    QLineEdit *input() { return ui.Text1; }
    QPlainTextEdit *chatPane() { return ui.Text2; }
    QPlainTextEdit *whisperPane() { return ui.Text3; }
    QListView *users() { return ui.Roomlist; }
    QString caption() { return ui.Channel->text(); }
    QPushButton *button(const QString &name) { return designButton(ui, name); }
    bool watchdogRuns() { return session()->watchdog()->isActive(); }

    // The user list as shown, and as the session holds it.
    QStringList entries() { return session()->roster()->shownEntries(); }
    void setEntries(const QStringList &entries)
    {
        session()->roster()->clear();
        for (const QString &entry : entries)
            session()->roster()->append(entry);
    }
    void selectUser(int row)
    {
        users()->setCurrentIndex(users()->model()->index(row, 0));
    }
    QList<int> selectedRows()
    {
        QList<int> rows;
        for (const QModelIndex &index : users()->selectionModel()->selectedIndexes())
            rows << index.row();
        return rows;
    }

    TorvalMain window;
    const TorvalMain::Controls ui = window.controls();
    FakeServer server;
};

// What an empty pane holds after these display lines.
inline QString paneText(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += QStringLiteral("[12:34] ") + line + QLatin1Char('\n');
    return text;
}

inline bool caretAtEnd(const QPlainTextEdit *pane)
{
    return pane->textCursor().position() == pane->document()->characterCount() - 1 && !pane->textCursor().hasSelection();
}

// That day's chat log for 127.0.0.1, under the test's data folder.
inline QString chatDayLogPath()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/VeskChat/logs/127.0.0.1/2026-03-14.log");
}

// For the chat log's tests: every date-and-time reads 2026-03-14 09:05:07 while this lives,
// and reset() also removes that day's log.
struct ChatDayState : WindowTestState {
    ChatDayState() { setDateTimeClockForTesting([] { return QDateTime(QDate(2026, 3, 14), QTime(9, 5, 7)); }); }
    ~ChatDayState() { setDateTimeClockForTesting({}); }
    void reset()
    {
        WindowTestState::reset();
        QFile::remove(chatDayLogPath());
    }
};
inline QByteArray readChatDayLog()
{
    QFile file(chatDayLogPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// How the pane's line that ends with text is drawn: "muted" (earlier lines), "bold" (a mention), "plain",
// "other", or "missing".
inline QString lineDrawing(const QPlainTextEdit *pane, const QString &text)
{
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.text().endsWith(text))
            continue;
        const auto formats = b.layout()->formats();
        if (formats.isEmpty())
            return QStringLiteral("plain");
        const QTextCharFormat f = formats.first().format;
        if (f.fontWeight() == QFont::Bold)
            return QStringLiteral("bold");
        if (f.foreground().color() == PaneMarks::mutedColour(pane->palette()) && f.fontItalic())
            return QStringLiteral("muted");
        return QStringLiteral("other");
    }
    return QStringLiteral("missing");
}
