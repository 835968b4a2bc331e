// SPDX-License-Identifier: MIT
// The session's face: Connect, the login, Disconnect, the lost-link message
// and the enabled state of the session buttons. The connection itself lives
// in the ChatSession; these handlers react to it.
#include "ui/TorvalMain.h"

#include "reception/RosterModel.h"
#include "session/ChatLink.h"
#include "session/ChatSession.h"
#include "settings/PasswordKeyring.h"
#include "settings/Settings.h"
#include "ui/Dialogs.h"
#include "ui/FrmLogin.h"
#include "ui/TrustDialog.h"
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
        refreshSecureMark();
        SetButtonStates(false, true, false, true);
    });
    connect(m_session, &ChatSession::reconnected, this, [this] { SetButtonStates(false, true, true, true); });
    connect(m_session, &ChatSession::trustQuestion, this, &TorvalMain::askTrust);
    connect(m_session, &ChatSession::loginAccepted, this, [this] {
        refreshSecureMark();
        rememberAcceptedPassword();
    });
    m_keyring = new PasswordKeyring(this);
}

void TorvalMain::refreshSecureMark()
{
    const bool secure = m_session->IsConnected() && m_session->isSecure();
    setWindowTitle(QString::fromLatin1(kProgramTitle) + (secure ? QString::fromUtf8(kSecureCaptionMark) : QString()));
}

void TorvalMain::rememberAcceptedPassword()
{
    // Written only now that the gateway took the password, so a typo is never kept.
    if (!std::exchange(m_rememberPassword, false) || m_session->LoginPassword().isEmpty())
        return;
    m_keyring->write(PasswordKeyring::keyFor(m_session->LoginName(), m_session->serverEntry().hostPort()),
                     m_session->LoginPassword());
}

void TorvalMain::askTrust(const TrustDecision &decision)
{
    refreshSecureMark();
    if (m_inLoginDialog) {
        // One window at a time: the question follows once the login dialog has closed.
        m_pendingTrust = decision;
        return;
    }
    const QString hostPort = m_session->serverEntry().hostPort();
    switch (TrustDialog::ask(this, hostPort, decision)) {
    case TrustDialog::TrustServer:
        if (!m_session->knownHosts()->pin(hostPort, decision.fingerprint)) {
            m_session->showNotice(tr("The server's key could not be saved: %1.").arg(m_session->knownHosts()->lastError()));
            break;
        }
        m_session->reopen();
        SetButtonStates(false, true, true, true);
        return;
    case TrustDialog::ForgetOldKey:
        if (m_session->knownHosts()->forget(hostPort))
            m_session->showNotice(tr("The old key of %1 is forgotten. Connect again to see the new one and decide "
                                     "whether to trust it.")
                                      .arg(hostPort));
        else
            m_session->showNotice(tr("The old key of %1 could not be forgotten: %2.")
                                      .arg(hostPort, m_session->knownHosts()->lastError()));
        break;
    case TrustDialog::Cancelled:
        break;
    }
    // Not connected: the buttons say so, and no lost-link box follows.
    m_session->close();
    SetButtonStates(true, false, false, true);
    setCursor(Qt::ArrowCursor);
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
    const bool opened = m_session->open();
    SaveSetting(Keys::Server, m_session->ServerAddress());
    if (!opened) {
        // The chat pane says why; nothing was dialled, so there is nothing to log in to.
        SetButtonStates(true, false, false, true);
        return;
    }
    SetButtonStates(false, true, true, true);

    m_rememberPassword = false;
    m_pendingTrust.reset();
    m_inLoginDialog = true;
    {
        FrmLogin login(this);
        login.exec();
    }
    m_inLoginDialog = false;
    SaveSetting(Keys::Username, m_session->LoginName());
    if (std::optional<TrustDecision> decision = std::exchange(m_pendingTrust, std::nullopt))
        askTrust(*decision);
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
    refreshSecureMark();
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
