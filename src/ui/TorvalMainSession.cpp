// SPDX-License-Identifier: MIT
// The session: connecting, the login handshake, disconnecting, the link
// watchdog and the enabled state of the session buttons.
#include "ui/TorvalMain.h"

#include "session/ChatLink.h"
#include "session/Globals.h"
#include "settings/Settings.h"
#include "time/Clock.h"
#include "ui/Dialogs.h"
#include "ui/DisplayPane.h"
#include "ui/FrmLogin.h"
#include "ui/frmServers.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {
constexpr int kWatchdogMs = 500;
constexpr char kLostConnection[] = "You have lost your connection to Torval.net";
} // namespace

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
    clearRoster();
    Text1->clear();
    Text2->clear();
    Text3->clear();
}

void TorvalMain::Connect_Click()
{
    stopReconnecting();
    clearSession();
    {
        frmServers picker(this);
        picker.exec();
    }

    // Whatever goes wrong from here on is not reported here: a connection that
    // cannot be made shows up in the chat pane, a lost one through the watchdog.
    startLog();
    Winsock1->connectTo(ServerAddress, gatewayPort());
    linkEndNotice.clear();
    IsConnected = true;
    SaveSetting(Keys::Server, ServerAddress);
    SetButtonStates(false, true, true, true);

    {
        FrmLogin login(this);
        login.exec();
    }
    SaveSetting(Keys::Username, LoginName);
}

void TorvalMain::ProceedLogin()
{
    startLog();
    setCursor(Qt::WaitCursor);
    Winsock1->writeHandshake(LoginName, LoginPassword);
    Timer1->start(kWatchdogMs);
    Text1->setFocus();
}

void TorvalMain::Disconnect_Click()
{
    IsConnected = false;
    stopReconnecting();
    Timer1->stop();
    SetButtonStates(true, false, false, true);
    clearSession();
    Channel->setText(QString::fromLatin1(kNoChannelCaption));
    Winsock1->close();
    // No channel line will end the login's busy pointer now.
    setCursor(Qt::ArrowCursor);
}

void TorvalMain::Timer1_Timer()
{
    // Qt does not run this again while the box below is open, so one lost
    // link gives one message.
    if (Winsock1->isAlive() || !IsConnected)
        return;
    MsgBox(this, QString::fromLatin1(kLostConnection));
    Disconnect_Click();
    // Disconnect has emptied the panes: say again when and why the link ended.
    if (!linkEndNotice.isEmpty())
        showDisplayLine(Text2, linkEndNotice);
}

void TorvalMain::Winsock1_Error(const QString &reason)
{
    if (!IsConnected || reconnectFailed(reason))
        return;
    linkEndNotice = QStringLiteral("Could not connect to %1: %2.").arg(ServerAddress, reason);
    showDisplayLine(Text2, linkEndNotice);
}

void TorvalMain::Winsock1_Lost(const QString &reason)
{
    linkEndNotice = QStringLiteral("The connection to %1 was lost at %2: %3.").arg(ServerAddress, formattedTime(), reason);
    reconnectAfterLoss(linkEndNotice);
}
