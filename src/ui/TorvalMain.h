// SPDX-License-Identifier: MIT
#pragma once

#include "layout/Layout.h"
#include "protocol/ChatEvent.h"
#include "reception/Roster.h"
#include "ui/Twips.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class ChatLink;
class FrmChannel;
class PaneAppendBatch;
class frmAbout;
class frmHelp;
struct FeatureState;
class QKeyEvent;

// The one window in which all chatting happens. It is a thin shell over the
// link, which owns the connection and turns received bytes into events: the
// window renders those events and turns the user's actions into lines. Its
// member functions are kept in one file per subsystem (TorvalMainSession.cpp,
// TorvalMainReception.cpp, TorvalMainOutgoing.cpp).
class TorvalMain : public QWidget
{
    Q_OBJECT

public:
    explicit TorvalMain(QWidget *parent = nullptr);
    ~TorvalMain() override;

    // Offered to other windows: the login dialog and the channel picker.
    void ProceedLogin();
    void Send_Click();

    QLineEdit *inputLine() const { return Text1; }
    ChatLink *link() const { return Winsock1; }

    // The user list's heading when no channel's roster is shown.
    static constexpr char kNoChannelCaption[] = "Channel (Users)";

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    // ---- Windows and dialogs (TorvalMain.cpp) ----
private slots:
    void Form_Load();
    void About_Click();
    void cmdHelp_Click();
    void cmdChannel_Click();

private:
    void buildControls();
    void Form_Resize();
    void ApplyLayout();
    QWidget *layoutControl(LayoutControl control) const;
    void moveControl(QWidget *control, LayoutProperty property, double twips);
    // Tells the user, once for the window's life, that settings cannot be saved.
    void reportSaveFailure(const QString &path);

    bool saveFailureReported = false;
    QLabel *lblTitle = nullptr;
    QLabel *LabelCoverUp = nullptr;
    QLabel *Channel = nullptr;
    QPlainTextEdit *Text2 = nullptr;
    QPlainTextEdit *Text3 = nullptr;
    QLineEdit *Text1 = nullptr;
    QListWidget *Roomlist = nullptr;
    QPushButton *Connect = nullptr;
    QPushButton *Disconnect = nullptr;
    QPushButton *cmdChannel = nullptr;
    QPushButton *About = nullptr;
    QPushButton *Quit = nullptr;
    QPushButton *cmdIdle = nullptr;
    QPushButton *cmdHelp = nullptr;
    QPushButton *Slap = nullptr;
    QPushButton *Kick = nullptr;
    QPushButton *Squelch = nullptr;
    QPushButton *UnSquelch = nullptr;
    QPushButton *Ban = nullptr;
    QPushButton *Whisper = nullptr;
    QPushButton *Whois = nullptr;
    QPushButton *Send = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *TimerIdle = nullptr;
    ChatLink *Winsock1 = nullptr; // the link to the gateway; its socket keeps the name Winsock1

    QHash<QWidget *, TwipsRect> geometryTwips; // where each placed control stands, in twips
    QPointer<frmAbout> aboutWindow;
    QPointer<frmHelp> helpWindow;
    QPointer<FrmChannel> channelWindow;

    // ---- Chat session (TorvalMainSession.cpp) ----
private slots:
    void Connect_Click();
    void Disconnect_Click();
    void Timer1_Timer();
    void Winsock1_Error(const QString &reason);
    void Winsock1_Lost(const QString &reason);

private:
    void SetButtonStates(bool connectOn, bool disconnectOn, bool channelAndIdleOn, bool quitOn);
    void clearSession();

    QString linkEndNotice; // when and why the current connection failed or ended, for the chat pane

    // ---- Event reception (TorvalMainReception.cpp) ----
private slots:
    void Winsock1_DataArrival(const ChatEvents &events);

private:
    void ParseIncoming(const ChatEvent &event, PaneAppendBatch &batch);
    void OnUser(const ChatEvent &event);
    void OnJoin(const ChatEvent &event);
    void OnLeave(const ChatEvent &event);
    void OnChannel(const ChatEvent &event, PaneAppendBatch &batch);
    void OnTalk(const ChatEvent &event, PaneAppendBatch &batch);
    void OnWhisper(const ChatEvent &event, PaneAppendBatch &batch);
    void OnInfo(const ChatEvent &event, PaneAppendBatch &batch);
    void OnEmote(const ChatEvent &event, PaneAppendBatch &batch);
    void OnUnparseable(const ChatEvent &event, PaneAppendBatch &batch);
    // Empties the user list and what it shows.
    void clearRoster();
    void refreshChannelCaption();

    QString CurrentChannel;
    Roster roster; // what Roomlist shows, entry for entry

    // ---- Outgoing chat (TorvalMainOutgoing.cpp) ----
private slots:
    void Quit_Click();
    void Ban_Click();
    void Kick_Click();
    void Slap_Click();
    void Squelch_Click();
    void UnSquelch_Click();
    void Whisper_Click();
    void Whois_Click();
    void cmdIdle_Click();
    void TimerIdle_Timer();

private:
    static constexpr int kEnterKey = 13; // the key code Text1_KeyPress sees for Enter
    void Text1_KeyPress(int &KeyAscii);
    void SendCommand(const QString &text);
    // Runs Send on the input line; false when the line could not be sent.
    bool sendInputLine();
    QString selectedEntry() const;

    qint16 IdleSeconds = 0;
    QString IdleMessage;
    qint16 IdleCount = 0;

    // ---- Beyond the design: input history, name completion, find, pane marks, chat log, alerts, reconnect (TorvalMainFeatures.cpp) ----
private:
    void prepareFeatures();
    void prepareFindBar();
    // Up, Down and Tab in the input line; true when the key was used.
    bool Text1_FeatureKey(const QKeyEvent *key);
    void rememberSentLine(const QString &typed);
    void openFindBar();
    void placeFindBar();
    // A line to a pane, also written to the chat log.
    void showDisplayLine(QPlainTextEdit *pane, const QString &body);
    void showDisplayLine(PaneAppendBatch &batch, QPlainTextEdit *pane, const QString &body);
    void showPlainLine(PaneAppendBatch &batch, QPlainTextEdit *pane, const QString &text);
    void startLog();
    // After each received slice: the log is written out.
    void endOfSlice();
    void logLine(const QString &line);
    // Appends a message's body (name, text) as the panes show it.
    using BodyWriter = void (*)(QString &out, QStringView name, QStringView text);
    // A received talk, emote or whisper, before its line is shown: mention
    // marks, alerts and the chat log.
    void noteMessage(const ChatEvent &event, BodyWriter writeBody);
    // With AutoReconnect on: a lost link is noted in the chat pane and tried
    // again later; false when the design's lost-link handling applies.
    bool reconnectAfterLoss(const QString &notice);
    // A try to get the link back failed; false when no reconnect is under way.
    bool reconnectFailed(const QString &reason);
    void reconnectNow();
    // A channel line arrived: a reconnect that was under way has succeeded.
    void loginCompleted();
    void stopReconnecting();

    std::unique_ptr<FeatureState> features;
};
