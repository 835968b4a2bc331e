// SPDX-License-Identifier: MIT
#pragma once

#include "log/LogTail.h"
#include "protocol/ChatEvent.h"
#include "session/KnownHosts.h"
#include "session/Reconnect.h"
#include "session/ServerEntry.h"
#include "session/ServerTrust.h"
#include "session/ShownLines.h"

#include <QNetworkProxy>

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <optional>
#include <vector>

class ChatLink;
class RosterModel;

// One chat session: who the user is on which server, the link to it and the
// connection's whole life (connecting, the login, the watchdog, a lost link,
// Disconnect, connecting again), the user list, and every line the user
// sends. What it receives leaves it as lines ready to show, one batch per
// slice, through its filters (log, marks, alerts) and then linesReady; a
// window renders them and reacts to the other signals. Two sessions in one
// process share nothing.
class ChatSession : public QObject
{
    Q_OBJECT

public:
    // What became of a line the user typed.
    enum class TypedResult { Sent, NotSent, Clear, Quit };

    explicit ChatSession(QObject *parent = nullptr);
    ~ChatSession() override;

    // The identity: the server picked, the name and password given at the login.
    bool IsConnected() const { return m_connected; } // the user's intent: from open() until close()
    QString ServerAddress() const { return m_server; }
    QString LoginName() const { return m_name; }
    QString LoginPassword() const { return m_password; }
    void setServerAddress(const QString &server) { m_server = server; }
    void setLoginName(const QString &name) { m_name = name; }
    void setLoginPassword(const QString &password) { m_password = password; }
    // The port to dial; 0 (the default) means gatewayPort().
    void setPort(quint16 port) { m_port = port; }
    // With it on, a lost link is tried again with growing waits instead of ending the session.
    void setAutoReconnect(bool on) { m_autoReconnect = on; }
    bool isReconnecting() const { return m_reconnect.isActive(); }

    ChatLink *link() const { return m_link; }
    RosterModel *roster() const { return m_roster; }
    QString CurrentChannel() const { return m_channel; }
    // When and why the current connection failed or ended, in plain words; empty while it is fine.
    QString linkEndNotice() const { return m_linkEndNotice; }
    // The watchdog ("Timer1"): checks the link every 500 ms after the login.
    const QTimer *watchdog() const { return &m_watchdog; }

    // Starts connecting to ServerAddress (a server entry: host, host:port or
    // tls://host[:port]) through the [Connect] Proxy setting; the login follows
    // with login(). An entry or a proxy setting that cannot be used is refused
    // in the chat pane, nothing is dialled, and false is returned.
    bool open();
    // Sends the login handshake with LoginName and LoginPassword on the link
    // open() started, and starts the watchdog.
    void login();
    // Connects again to the same server after the user trusted it, and logs in
    // again if the login had been sent.
    void reopen();
    // The servers whose keys the user trusts (known_hosts beside the settings).
    KnownHosts *knownHosts() { return &m_knownHosts; }
    // The entry ServerAddress was parsed into at the last open().
    const ServerEntry &serverEntry() const { return m_entry; }
    // The current link is TLS to a trusted server.
    bool isSecure() const;
    // Ends the session: the link is closed, the user list emptied; nothing is tried again.
    void close();

    // A line sent now reaches the server.
    bool canSend() const;
    // Sends a command line as it is (roster commands, the idle announcement,
    // the channel picker). A line that cannot be sent is reported in the chat
    // pane; false then.
    bool sendLine(const QString &line);
    // Sends what the user typed into the input line, by what it means: local
    // commands are done, the rest sent, and echoed where the user expects it.
    TypedResult sendTyped(const QString &typed);
    // A line of the program's own in a pane, through the filters like any other.
    void showNotice(const QString &text, ShownLine::Pane pane = ShownLine::Pane::Chat);
    // The echo of a whisper sent, in the whisper pane.
    void showWhisperEcho(const QString &text);

    // Filters see every batch before linesReady, in the order they were added.
    void addFilter(ShownLineFilter *filter);
    void removeFilter(ShownLineFilter *filter);

    // Runs received events through the session as one slice.
    void receive(const ChatEvents &events);

signals:
    void linesReady(const ShownLines &lines);
    // The watchdog found the link gone after the login; once per lost link.
    void connectionLost();
    // A user event changed (or tried to change) the user list.
    void rosterChanged();
    // A channel line arrived: the user is now in channel.
    void channelJoined(const QString &channel);
    // With reconnecting on: the link was lost and the next try is armed.
    void reconnecting();
    // A reconnect's login brought the user back into a channel.
    void reconnected();
    // A secure server could not be trusted and the link is closed; the user
    // may be asked (AskTrust) or told (RefuseChanged, Refuse). Not emitted
    // while reconnecting by itself: the chat pane says it then.
    void trustQuestion(const TrustDecision &decision);
    // The first channel line of a login: the gateway accepted the name and password.
    void loginAccepted();

private:
    void handle(const ChatEvent &event);
    void onConnectFailed(const QString &reason);
    void onLinkLost(const QString &reason);
    void onConnectFailedText(const QString &text);
    void onUntrusted(const TrustDecision &decision);
    void reportKnownHostsDamage();
    void connectLink();
    void onWatchdog();
    void reconnectNow();
    void loginCompleted();
    void showLine(ShownLine::Pane pane, ShownLine::Kind kind, QStringView body);
    void emitLines();
    quint16 port() const;

    // ---- Earlier lines from the chat log, and pasted lines (ChatSessionReplay.cpp) ----
public:
    // The chat log folder the earlier lines are read from, and how many of
    // them the chat pane shows when the first login to a server completes; 0: none.
    void setReplay(const QString &logFolder, int lines);
    // Sends one line of a paste as the input line would send it, echo
    // included; false, and nothing shown, when the link cannot take it.
    bool sendPasted(const QString &line);
    // The earlier lines were read and wait for the login to complete.
    bool isReplayReady() const { return m_replayTail.has_value(); }

private:
    // Reads the log of this server once per session, before this session writes to it.
    void startReplay();
    // A channel line arrived: the earlier lines go first, as soon as they are read.
    void replayOnLogin();
    void onReplayRead(const LogTail &tail);
    void showReplay(const LogTail &tail);

    LogReplay *m_replay = nullptr;
    QString m_replayFolder;
    int m_replayCount = 0;
    QSet<QString> m_replayedServers; // each server's log is shown once a session
    std::optional<LogTail> m_replayTail; // read, waiting for the login
    bool m_replayWaiting = false;        // started for the coming login, not shown yet
    bool m_replayDue = false;            // the login completed before the log was read

    ChatLink *m_link;
    RosterModel *m_roster;
    QTimer m_watchdog;
    Reconnector m_reconnect;
    std::vector<ShownLineFilter *> m_filters;
    ShownLines m_lines;
    ShownLines m_late; // lines shown while m_lines is handed on
    bool m_emitting = false;
    bool m_inSlice = false;

    bool m_connected = false;
    bool m_lossReported = false;
    bool m_autoReconnect = false;
    quint16 m_port = 0;
    QString m_server;
    QString m_name;
    QString m_password;
    QString m_channel;
    QString m_linkEndNotice;
    ServerEntry m_entry;
    QNetworkProxy m_proxy;
    KnownHosts m_knownHosts;
    bool m_loginRequested = false; // login() was called since open()
    bool m_loginPending = false;
    bool m_awaitingTrust = false;  // closed until the user decides about the server   // the current connection's login has not completed yet
};
