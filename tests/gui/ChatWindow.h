// SPDX-License-Identifier: MIT
// A main window with empty panes, whose socket is linked to a FakeServer
// without the login dialogs, and whose idle timer only the test drives.
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

    void invoke(const char *slot) { QMetaObject::invokeMethod(&window, slot); }
    void tick() { invoke("TimerIdle_Timer"); }

    QTcpSocket *socket() { return control<QTcpSocket>(&window, "Winsock1"); }
    QLineEdit *input() { return control<QLineEdit>(&window, "Text1"); }
    QPlainTextEdit *chatPane() { return control<QPlainTextEdit>(&window, "Text2"); }
    QPlainTextEdit *whisperPane() { return control<QPlainTextEdit>(&window, "Text3"); }
    QListWidget *users() { return control<QListWidget>(&window, "Roomlist"); }
    QPushButton *button(const char *name) { return control<QPushButton>(&window, name); }

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
