#include "ClientConnection.h"

#include "Protocol.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

QString describePeer(const QTcpSocket *socket)
{
    QHostAddress address = socket->peerAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
            ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
            : address.toString();
    return host + QLatin1Char(':') + QString::number(socket->peerPort());
}

} // namespace

ClientConnection::ClientConnection(QTcpSocket *socket, QObject *parent)
    : QObject(parent), m_socket(socket), m_peer(describePeer(socket))
{
    m_socket->setParent(this);
    // Qt stops reading from the kernel once this much is unread, so a flooding
    // client is slowed down by TCP instead of filling our memory.
    m_socket->setReadBufferSize(ReadBufferSize);
    // Lines written in one event loop pass already go out together; Nagle would
    // only delay interactive chat.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    connect(m_socket, &QTcpSocket::readyRead, this, &ClientConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientConnection::finish);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError && m_closeReason.isEmpty())
            m_closeReason = m_socket->errorString();
        drop(m_closeReason);
    });

    m_loginTimer.setSingleShot(true);
    m_loginTimer.setInterval(LoginTimeoutMs);
    connect(&m_loginTimer, &QTimer::timeout, this, [this] { failHandshake("Login timed out."); });
    m_loginTimer.start();
}

void ClientConnection::send(const QByteArray &data)
{
    if (m_state == State::Closing)
        return;
    m_socket->write(data);
    if (m_socket->bytesToWrite() > m_maxPendingOutput)
        drop(QStringLiteral("output queue full"));
}

void ClientConnection::acceptLogin()
{
    if (m_state != State::AwaitingLogin)
        return;
    m_loginTimer.stop();
    m_state = State::Chatting;
}

void ClientConnection::refuse(QByteArrayView message)
{
    send(Protocol::errorLine(message));
    close(QString::fromUtf8(message));
}

void ClientConnection::close(const QString &reason)
{
    if (m_state == State::Closing)
        return;
    m_state = State::Closing;
    m_closeReason = reason;
    m_loginTimer.stop();
    QMetaObject::invokeMethod(this, &ClientConnection::shutDown, Qt::QueuedConnection);
}

void ClientConnection::drop(const QString &reason)
{
    m_state = State::Closing;
    if (m_closeReason.isEmpty())
        m_closeReason = reason;
    m_loginTimer.stop();
    QMetaObject::invokeMethod(this, [this] {
        m_socket->abort();
        finish();
    }, Qt::QueuedConnection);
}

void ClientConnection::shutDown()
{
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        finish();
        return;
    }
    // A peer that never reads would keep the final lines pending forever.
    QTimer::singleShot(CloseTimeoutMs, this, [this] {
        m_socket->abort();
        finish();
    });
}

void ClientConnection::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_state = State::Closing;
    m_loginTimer.stop();
    emit closed();
}

void ClientConnection::onReadyRead()
{
    const QByteArray data = m_socket->readAll();
    if (m_state == State::Closing)
        return;

    QByteArrayView rest(data);
    static constexpr char modeBytes[] = {0x03, 0x04};
    while (m_state == State::Mode && !rest.isEmpty()) {
        if (rest.front() != modeBytes[m_modeBytesSeen]) {
            failHandshake("Unsupported protocol.");
            return;
        }
        rest = rest.sliced(1);
        if (++m_modeBytesSeen == int(sizeof modeBytes))
            m_state = State::Filler;
    }
    if (rest.isEmpty())
        return;
    m_reader.append(rest);

    QByteArray line;
    while (m_state != State::Closing) {
        const LineReader::Result result = m_reader.next(line);
        if (result == LineReader::Result::NeedMore)
            break;
        if (m_state != State::Chatting)
            handleHandshakeLine(result, line);
        else if (result == LineReader::Result::Line)
            emit lineReceived(line);
        else
            send(Protocol::errorLine("That line is too long."));
    }
}

void ClientConnection::handleHandshakeLine(LineReader::Result result, const QByteArray &line)
{
    if (result == LineReader::Result::Overlong) {
        failHandshake("Bad login.");
        return;
    }
    switch (m_state) {
    case State::Filler:
        // The mode bytes are followed by two empty lines.
        if (!line.isEmpty())
            failHandshake("Bad login.");
        else if (++m_fillerLinesSeen == 2)
            m_state = State::Name;
        break;
    case State::Name:
        m_name = line;
        m_state = State::Password;
        break;
    case State::Password:
        m_state = State::AwaitingLogin;
        emit loginRequested(m_name, line);
        break;
    case State::Mode:
    case State::AwaitingLogin:
    case State::Chatting:
    case State::Closing:
        break;
    }
}

void ClientConnection::failHandshake(QByteArrayView message)
{
    if (m_state == State::Closing)
        return;
    const QString reason = QString::fromUtf8(message);
    emit handshakeFailed(reason);
    refuse(message);
}
