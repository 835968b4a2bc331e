// SPDX-License-Identifier: MIT
// A main window with empty panes, whose socket is linked to a FakeServer
// without the login dialogs, and whose idle timer only the test drives.
#pragma once

#include "session/Globals.h"
#include "support/TestSupport.h"
#include "ui/DisplayPane.h"
#include "ui/TorvalMain.h"
#include "ui/TorvalMod1.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

// What every main-window test starts from: call reset() in init().
struct WindowTestState {
    TestStore store;
    FixedClock clock;
    void reset()
    {
        TestStore::clear();
        LoginName = QStringLiteral("Tester");
        setEndProgramForTesting({});
    }
};

class ChatWindow
{
public:
    ChatWindow()
    {
        control<QTimer>(&window, "TimerIdle")->stop();
        chatPane()->clear();
        whisperPane()->clear();
    }

    void startConnecting() { socket()->connectToHost(QHostAddress::LocalHost, server.port()); }
    bool connectNow()
    {
        startConnecting();
        return socket()->waitForConnected() && server.waitForClient();
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

    void invoke(const char *slot) { QMetaObject::invokeMethod(&window, slot); }
    void tick() { invoke("TimerIdle_Timer"); }

    QTcpSocket *socket() { return control<QTcpSocket>(&window, "Winsock1"); }
    QLineEdit *input() { return control<QLineEdit>(&window, "Text1"); }
    QPlainTextEdit *chatPane() { return control<QPlainTextEdit>(&window, "Text2"); }
    QPlainTextEdit *whisperPane() { return control<QPlainTextEdit>(&window, "Text3"); }
    QListWidget *users() { return control<QListWidget>(&window, "Roomlist"); }
    QString caption() { return control<QLabel>(&window, "Channel")->text(); }
    QPushButton *button(const char *name) { return control<QPushButton>(&window, name); }
    QStringList entries()
    {
        QStringList texts;
        for (int row = 0; row < users()->count(); ++row)
            texts << users()->item(row)->text();
        return texts;
    }

    TorvalMain window;
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
