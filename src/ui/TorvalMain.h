// SPDX-License-Identifier: MIT
#pragma once

#include "layout/Layout.h"
#include "outgoing/InputHistory.h"
#include "outgoing/NameCompletion.h"
#include "session/ServerTrust.h"
#include "ui/Twips.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QListView;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class ChatLink;
class ChatLog;
class ChatSession;
class FindBar;
class FrmChannel;
class MentionMarks;
class MessageAlerts;
class PaneMarks;
class PasswordKeyring;
class PasteBar;
class PasteQueue;
class SpellChecker;
class SpellCheckLine;
class ShownLines;
class frmAbout;
class frmHelp;
class QDropEvent;
class QKeyEvent;

// The one window in which all chatting happens. It is a thin shell over one
// ChatSession, which owns the connection, the user list and every line sent
// and received: the window renders the session's lines and signals and turns
// the user's clicks and keys into session calls. Its member functions are
// kept in one file per subsystem (TorvalMainSession.cpp,
// TorvalMainReception.cpp, TorvalMainOutgoing.cpp, TorvalMainFeatures.cpp).
class TorvalMain : public QWidget
{
    Q_OBJECT

public:
    explicit TorvalMain(QWidget *parent = nullptr);
    ~TorvalMain() override;

    // Offered to other windows: the login dialog and the channel picker.
    void ProceedLogin();
    void Send_Click();
    // Sends a command line through the session; the input line is not touched.
    // False, and the chat pane says why, when it could not be sent.
    bool SendCommand(const QString &text);
    // One second of the idle announcer (the TimerIdle tick).
    void TimerIdle_Timer();

    ChatSession *session() const { return m_session; }
    ChatLink *link() const;
    // The system keyring the login dialog remembers passwords in.
    PasswordKeyring *keyring() const { return m_keyring; }
    // What the login dialog's "Remember password" box asks of the login
    // being sent: keep the password in the keyring once the gateway accepts it.
    void setRememberPassword(bool remember) { m_rememberPassword = remember; }
    // Shown after the window's caption while the link is secure.
    static constexpr char kSecureCaptionMark[] = " \u2014 secure";

    // The design's controls, for tests and tools that drive the window.
    struct Controls {
        QLabel *Channel;
        QPlainTextEdit *Text2, *Text3;
        QLineEdit *Text1;
        QListView *Roomlist;
        QPushButton *Connect, *Disconnect, *cmdChannel, *About, *Quit, *cmdIdle, *cmdHelp;
        QPushButton *Slap, *Kick, *Squelch, *UnSquelch, *Ban, *Whisper, *Whois, *Send;
        QTimer *TimerIdle;
    };
    Controls controls() const;

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
    QListView *Roomlist = nullptr;
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
    QTimer *TimerIdle = nullptr;
    ChatSession *m_session = nullptr; // its link's socket keeps the name Winsock1, its watchdog Timer1

    QHash<QWidget *, TwipsRect> geometryTwips; // where each placed control stands, in twips
    QPointer<frmAbout> aboutWindow;
    QPointer<frmHelp> helpWindow;
    QPointer<FrmChannel> channelWindow;

    // ---- Chat session (TorvalMainSession.cpp) ----
private slots:
    void Connect_Click();
    void Disconnect_Click();
    // The session's watchdog found the link lost.
    void Timer1_Timer();

private:
    void bindSession();
    void SetButtonStates(bool connectOn, bool disconnectOn, bool channelAndIdleOn, bool quitOn);
    void clearSession();
    // The trust window for a server the session could not trust; after the login dialog when it is open.
    void askTrust(const TrustDecision &decision);
    void refreshSecureMark();
    void rememberAcceptedPassword();

    PasswordKeyring *m_keyring = nullptr;
    bool m_rememberPassword = false;
    bool m_inLoginDialog = false;
    std::optional<TrustDecision> m_pendingTrust; // asked once the login dialog has closed

    // ---- Event reception (TorvalMainReception.cpp) ----
private:
    // A batch of lines ready to show, written in one edit per pane.
    void Winsock1_DataArrival(const ShownLines &lines);
    void refreshChannelCaption();

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

private:
    static constexpr int kEnterKey = 13; // the key code Text1_KeyPress sees for Enter
    void Text1_KeyPress(int &KeyAscii);
    // The selected user list entry as received, or "" when none is selected.
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

    bool historyOn = true;
    bool completionOn = true;
    InputHistory history;
    NameCompleter completer;
    FindBar *findBar = nullptr;
    PaneMarks *chatMarks = nullptr;
    PaneMarks *whisperMarks = nullptr;
    ChatLog *chatLog = nullptr;
    std::unique_ptr<MentionMarks> mentionMarks;
    std::unique_ptr<MessageAlerts> alerts;

    // ---- Pasting many lines and spell checking the input line (TorvalMainInput.cpp) ----
public:
    // The paste bar and the input line's spell check, for tests and tools.
    PasteBar *pasteBar() const { return m_pasteBar; }
    PasteQueue *pasteQueue() const { return m_pasteQueue; }
    SpellCheckLine *spellCheckLine() const { return m_spellLine; }
    SpellChecker *spellChecker() const { return m_spellChecker.get(); }
    // Pastes text into the input line as the user would: several lines ask first.
    void Text1_Paste(const QString &text);

private:
    void preparePasting();
    void prepareSpellCheck();
    // Paste keys, the middle button and the context menu's Paste; true when the paste was taken.
    bool Text1_PasteEvent(QEvent *event);
    // Text dropped on the input line: several lines take the paste's road; true when the drop was taken.
    bool Text1_Drop(QDropEvent *drop);
    void placePasteBar();
    void refreshSpellNames();

    PasteQueue *m_pasteQueue = nullptr;
    PasteBar *m_pasteBar = nullptr;
    std::unique_ptr<SpellChecker> m_spellChecker;
    SpellCheckLine *m_spellLine = nullptr;
};
