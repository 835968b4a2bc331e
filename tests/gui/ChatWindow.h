// SPDX-License-Identifier: MIT
// A main window for the outgoing tests: its socket can be linked to a
// FakeServer without the login dialogs, and its idle timer is stopped so that
// only the test drives the ticks.
#pragma once

#include "support/TestSupport.h"
#include "ui/DisplayPane.h"
#include "ui/TorvalMain.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

class ChatWindow
{
public:
    ChatWindow() { control<QTimer>(&window, "TimerIdle")->stop(); }

    // Starts the connection; the link is up once the event loop has run.
    void startConnecting()
    {
        socket()->connectToHost(QHostAddress::LocalHost, server.port());
    }
    bool connectNow()
    {
        startConnecting();
        return socket()->waitForConnected() && server.waitForClient();
    }

    // Everything sent since the last call. A marker line written after it
    // arrives last (TCP keeps the order), so nothing else is still on its way.
    QByteArray sent()
    {
        const QByteArray marker("\x01" "end of test step\r\n");
        socket()->write(marker);
        if (!QTest::qWaitFor([&] { return server.received().endsWith(marker); }))
            return "(marker never arrived)";
        QByteArray bytes = server.take();
        bytes.chop(marker.size());
        return bytes;
    }

    void tick() { QMetaObject::invokeMethod(&window, "TimerIdle_Timer"); }
    void invoke(const char *slot) { QMetaObject::invokeMethod(&window, slot); }

    QTcpSocket *socket() { return control<QTcpSocket>(&window, "Winsock1"); }
    QLineEdit *input() { return control<QLineEdit>(&window, "Text1"); }
    QPlainTextEdit *chatPane() { return control<QPlainTextEdit>(&window, "Text2"); }
    QPlainTextEdit *whisperPane() { return control<QPlainTextEdit>(&window, "Text3"); }
    QListWidget *users() { return control<QListWidget>(&window, "Roomlist"); }
    QPushButton *button(const char *name) { return control<QPushButton>(&window, name); }

    void clearPanes()
    {
        chatPane()->clear();
        whisperPane()->clear();
    }

    TorvalMain window;
    FakeServer server;
};

// The text a pane holds after the given display lines were appended to an empty pane.
inline QString paneText(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += QStringLiteral("[12:34] ") + line + QLatin1Char('\n');
    return text;
}

// True when the pane holds just one line, the one saying the client is not connected.
inline bool holdsOnlyNotConnectedLine(const QPlainTextEdit *pane)
{
    const QStringList lines = pane->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines.size() == 1 && lines.first().startsWith(QStringLiteral("[12:34] Not connected"));
}
