// SPDX-License-Identifier: MIT
#pragma once

#include "layout/Layout.h"
#include "ui/Twips.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTcpSocket;
class QTimer;
class FrmChannel;
class frmAbout;
class frmHelp;
struct ReceiveState;
struct FeatureState;
class QKeyEvent;

// The one window in which all chatting happens. It is a thin shell: each
// subsystem defines its member functions in its own folder (session/,
// reception/, outgoing/) and keeps the cutting, deciding and computing in
// free functions beside them.
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

    // The user list's heading when no channel's roster is shown.
    static constexpr char kNoChannelCaption[] = "Channel (Users)";

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

    // ---- Windows and dialogs (src/ui/TorvalMain.cpp) ----
private slots:
    void About_Click();
    void cmdHelp_Click();
    void cmdChannel_Click();

private:
    void buildControls();
    void Form_Resize();
    void ApplyLayout();
    void moveControl(QWidget *control, LayoutProperty property, double twips);

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
    QTcpSocket *Winsock1 = nullptr;

    QHash<QWidget *, TwipsRect> geometryTwips; // where each placed control stands, in twips
    QPointer<frmAbout> aboutWindow;
    QPointer<frmHelp> helpWindow;
    QPointer<FrmChannel> channelWindow;

    // ---- Chat session (src/session/TorvalMainSession.cpp) ----
private slots:
    void Connect_Click();
    void Disconnect_Click();
    void Timer1_Timer();
    void Winsock1_Error();

private:
    void SetButtonStates(bool connectOn, bool disconnectOn, bool channelAndIdleOn, bool quitOn);
    // True when a line written now reaches the server: the link is up, or it is
    // still being made and the login is already queued ahead of it.
    bool canSend() const;
    // Writes text + CR LF in the gateway's 8-bit code page; false when nothing was sent.
    bool sendLine(const QString &text);

    bool loginSent = false;        // the handshake has been written since the last Connect
    bool lostLinkReported = false; // the lost-connection box is open
    bool linkEverUp = false;       // the current connection reached the connected state
    bool connectFailureShown = false; // the failed connection attempt is already in the chat pane

    // ---- Event reception (src/reception/TorvalMainReception.cpp) ----
public:
    // Runs bytes through the same framing and dispatch as data from Winsock1, at once.
    void feedBytesForTesting(QByteArrayView bytes);

private slots:
    void Winsock1_DataArrival();

private:
    // Bounds the socket's buffer and sets up the roster; called once the controls exist.
    void prepareReception();
    void ParseIncoming();
    // Frames the next chunk held by the socket into the backlog; false when it holds none.
    bool readChunk();
    void frameBytes(QByteArrayView bytes);
    // Dispatches backlog lines, reading more as needed, for one slice; true when work is left.
    bool runSlice();
    void dispatchLine(const QString &line);
    void OnUser(const QString &line);
    void OnJoin(const QString &line);
    void OnLeave(const QString &line);
    void OnChannel(const QString &line);
    void OnTalk(const QString &line);
    void OnWhisper(const QString &line);
    void OnInfo(const QString &line);
    void OnEmote(const QString &line);
    void refreshChannelCaption();

    QString CurrentChannel;
    std::unique_ptr<ReceiveState> receive;

    // ---- Outgoing chat (src/outgoing/TorvalMainOutgoing.cpp) ----
private slots:
    void Form_Load();
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
    void Text1_KeyPress(int &KeyAscii);
    void SendCommand(const QString &text);
    // Runs Send on the input line; false when the line could not be sent.
    bool sendInputLine();
    QString selectedEntry() const;

    qint16 IdleSeconds = 0;
    QString IdleMessage;
    qint16 IdleCount = 0;

    // ---- Beyond the design: input history, name completion, find, pane marks, chat log, alerts (src/ui/TorvalMainFeatures.cpp) ----
private:
    void prepareFeatures();
    // Up, Down and Tab in the input line; true when the key was used.
    bool Text1_FeatureKey(const QKeyEvent *key);
    void rememberSentLine(const QString &typed);
    void openFindBar();
    void placeFindBar();
    // A line to a pane, also written to the chat log.
    void showDisplayLine(QPlainTextEdit *pane, const QString &body);
    void showPlainLine(QPlainTextEdit *pane, const QString &text);
    void startLog();
    // After each received slice: the log is written out.
    void endOfSlice();
    // A received talk, emote or whisper, before its line is shown: mention marks and alerts.
    void noticeMessage(bool whisper, const QString &name, const QString &text, const QString &body);

    std::unique_ptr<FeatureState> features;
};
