// SPDX-License-Identifier: MIT
// The session's face: Connect, the login, Disconnect, the lost-link message
// and the enabled state of the session buttons. The connection itself lives
// in the ChatSession; these handlers react to it.
#include "ui/TorvalMain.h"

#include "reception/RosterModel.h"
#include "session/ChatLink.h"
#include "session/ChatSession.h"
#include "settings/Settings.h"
#include "ui/Dialogs.h"
#include "ui/FrmLogin.h"
#include "ui/frmServers.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
constexpr char kLostConnection[] = "You have lost your connection to Torval.net";
} // namespace

ChatLink *TorvalMain::link() const
{
    return m_session->link();
}

void TorvalMain::bindSession()
{
    connect(m_session, &ChatSession::linesReady, this, &TorvalMain::Winsock1_DataArrival);
    connect(m_session, &ChatSession::connectionLost, this, &TorvalMain::Timer1_Timer);
    connect(m_session, &ChatSession::rosterChanged, this, &TorvalMain::refreshChannelCaption);
    connect(m_session, &ChatSession::channelJoined, this, [this] {
        setCursor(Qt::ArrowCursor);
        refreshChannelCaption();
    });
    connect(m_session, &ChatSession::reconnecting, this, [this] {
        refreshChannelCaption();
        SetButtonStates(false, true, false, true);
    });
    connect(m_session, &ChatSession::reconnected, this, [this] { SetButtonStates(false, true, true, true); });
}

void TorvalMain::SetButtonStates(bool connectOn, bool disconnectOn, bool channelAndIdleOn, bool quitOn)
{
    Connect->setEnabled(connectOn);
    Disconnect->setEnabled(disconnectOn);
    cmdChannel->setEnabled(channelAndIdleOn);
    cmdIdle->setEnabled(channelAndIdleOn);
    Quit->setEnabled(quitOn);
}

void TorvalMain::clearSession()
{
    m_session->roster()->clear();
    Text1->clear();
    Text2->clear();
    Text3->clear();
}

void TorvalMain::Connect_Click()
{
    m_session->close();
    clearSession();
    {
        frmServers picker(this);
        picker.exec();
        m_session->setServerAddress(picker.serverAddress());
    }

    // Whatever goes wrong from here on is not reported here: a connection that
    // cannot be made shows up in the chat pane, a lost one through the watchdog.
    m_session->open();
    SaveSetting(Keys::Server, m_session->ServerAddress());
    SetButtonStates(false, true, true, true);

    {
        FrmLogin login(this);
        login.exec();
    }
    SaveSetting(Keys::Username, m_session->LoginName());
}

void TorvalMain::ProceedLogin()
{
    setCursor(Qt::WaitCursor);
    m_session->login();
    Text1->setFocus();
}

void TorvalMain::Disconnect_Click()
{
    m_session->close();
    SetButtonStates(true, false, false, true);
    clearSession();
    Channel->setText(QString::fromLatin1(kNoChannelCaption));
    // No channel line will end the login's busy pointer now.
    setCursor(Qt::ArrowCursor);
}

void TorvalMain::Timer1_Timer()
{
    MsgBox(this, QString::fromLatin1(kLostConnection));
    Disconnect_Click();
    // Disconnect has emptied the panes: say again when and why the link ended.
    if (!m_session->linkEndNotice().isEmpty())
        m_session->showNotice(m_session->linkEndNotice());
}
