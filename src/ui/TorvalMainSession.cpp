// SPDX-License-Identifier: MIT
// The session: connecting, the login handshake, disconnecting, the link
// watchdog and the enabled state of the session buttons.
#include "ui/TorvalMain.h"

#include "reception/TextCodec.h"
#include "ui/FrmLogin.h"
#include "session/Globals.h"
#include "settings/Settings.h"
#include "ui/Dialogs.h"
#include "ui/DisplayPane.h"
#include "ui/frmServers.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

namespace {

// The two mode bytes, then two empty lines; the name and password lines follow.
const QByteArray kHandshakePrefix("\x03\x04\r\n\r\n", 6);
constexpr char kLineEnd[] = "\r\n";
constexpr int kWatchdogMs = 500;
constexpr char kLostConnection[] = "You have lost your connection to Torval.net";

bool linkAlive(QAbstractSocket::SocketState state)
{
    return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::HostLookupState
        || state == QAbstractSocket::ConnectingState;
}

QString connectFailureReason(QAbstractSocket::SocketError error, const QString &detail)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("the server refused the connection (is a chat gateway running there?)");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("no server of that name could be found");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("the server did not answer in time");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("the network could not be reached");
    default:
        return detail;
    }
}

} // namespace

void TorvalMain::SetButtonStates(bool connectOn, bool disconnectOn, bool channelAndIdleOn, bool quitOn)
{
    Connect->setEnabled(connectOn);
    Disconnect->setEnabled(disconnectOn);
    cmdChannel->setEnabled(channelAndIdleOn);
    cmdIdle->setEnabled(channelAndIdleOn);
    Quit->setEnabled(quitOn);
}

void TorvalMain::Connect_Click()
{
    Roomlist->clear();
    Text1->clear();
    Text2->clear();
    Text3->clear();

    {
        frmServers picker(this);
        picker.exec();
    }

    // Whatever goes wrong from here on is not reported here: a connection that
    // cannot be made shows up in the chat pane, a lost one through the watchdog.
    if (Winsock1->state() != QAbstractSocket::UnconnectedState)
        Winsock1->abort();
    loginSent = false;
    linkEverUp = false;
    connectFailureShown = false;
    startLog();
    Winsock1->connectToHost(ServerAddress, gatewayPort());
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
    // Written while the connection may still be being made: the socket queues
    // the bytes and sends them once connected.
    if (Winsock1->state() != QAbstractSocket::UnconnectedState) {
        Winsock1->write(kHandshakePrefix);
        Winsock1->write(encodeOutgoing(LoginName) + kLineEnd);
        Winsock1->write(encodeOutgoing(LoginPassword) + kLineEnd);
        loginSent = true;
    }
    Timer1->start(kWatchdogMs);
}

void TorvalMain::Disconnect_Click()
{
    IsConnected = false;
    Timer1->stop();
    SetButtonStates(true, false, false, true);
    Roomlist->clear();
    Text1->clear();
    Text2->clear();
    Text3->clear();
    Channel->setText(QString::fromLatin1(kNoChannelCaption));
    Winsock1->close();
    loginSent = false;
}

void TorvalMain::Timer1_Timer()
{
    // One lost link, one message: ticks while the box is open do nothing.
    if (lostLinkReported || linkAlive(Winsock1->state()) || !IsConnected)
        return;
    lostLinkReported = true;
    MsgBox(this, QString::fromLatin1(kLostConnection));
    lostLinkReported = false;
    Disconnect_Click();
}

void TorvalMain::Winsock1_Error()
{
    // Only a connection that never came up is reported here; a link that
    // drops later is the watchdog's to report.
    if (linkEverUp || connectFailureShown || !IsConnected)
        return;
    connectFailureShown = true;
    const QString reason = connectFailureReason(Winsock1->error(), Winsock1->errorString());
    showDisplayLine(Text2, QStringLiteral("Could not connect to %1: %2.").arg(ServerAddress, reason));
}

bool TorvalMain::canSend() const
{
    const auto state = Winsock1->state();
    if (state == QAbstractSocket::ConnectedState)
        return true;
    return loginSent
        && (state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState);
}

bool TorvalMain::sendLine(const QString &text)
{
    if (!canSend())
        return false;
    Winsock1->write(encodeOutgoing(text) + kLineEnd);
    return true;
}
