// SPDX-License-Identifier: MIT
#include "session/ChatLink.h"

#include "protocol/Handshake.h"
#include "reception/TextCodec.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// The two mode bytes, then two empty lines; the name and password lines follow.
const QByteArray kHandshakePrefix = Handshake::kPrefix.toByteArray();
constexpr char kLineEnd[] = "\r\n";

// The socket buffers at most this much; beyond it TCP holds the server back
// until the backlog drains.
constexpr qint64 kSocketBufferBytes = 256 * 1024;
constexpr qint64 kReadChunkBytes = 16 * 1024;
// A slice ends after this long, this many lines or this many characters,
// whichever comes first; showing its events afterwards costs about as much
// again, so the event loop is never held much longer than a frame.
constexpr qint64 kSliceNanoseconds = 5'000'000;
constexpr int kSliceLines = 2000;
constexpr qsizetype kSliceCharacters = 256 * 1024;

bool isConnecting(QAbstractSocket::SocketState state)
{
    return state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState;
}

} // namespace

QString linkErrorReason(QAbstractSocket::SocketError error, const QString &detail)
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
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the server closed the connection");
    default:
        return detail;
    }
}

ChatLink::ChatLink(QObject *parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    m_socket->setObjectName(QStringLiteral("Winsock1"));
    m_socket->setReadBufferSize(kSocketBufferBytes);
    connect(m_socket, &QTcpSocket::readyRead, this, &ChatLink::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ChatLink::onError);
    connect(m_socket, &QTcpSocket::stateChanged, this, &ChatLink::stateChanged);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_everUp = true;
        m_framer.reset(); // an unfinished line belongs to the link it came on
    });
}

QAbstractSocket::SocketState ChatLink::state() const
{
    return m_socket->state();
}

void ChatLink::connectTo(const QString &host, quint16 port)
{
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_loginSent = false;
    m_everUp = false;
    m_failureReported = false;
    m_socket->connectToHost(host, port);
}

bool ChatLink::writeHandshake(const QString &name, const QString &password)
{
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return false;
    m_socket->write(kHandshakePrefix);
    m_socket->write(encodeOutgoing(name) + kLineEnd);
    m_socket->write(encodeOutgoing(password) + kLineEnd);
    m_loginSent = true;
    return true;
}

void ChatLink::close()
{
    m_socket->close();
    m_loginSent = false;
}

bool ChatLink::isAlive() const
{
    const auto state = m_socket->state();
    return state == QAbstractSocket::ConnectedState || isConnecting(state);
}

bool ChatLink::canSend() const
{
    const auto state = m_socket->state();
    return state == QAbstractSocket::ConnectedState || (m_loginSent && isConnecting(state));
}

bool ChatLink::sendLine(const QString &text)
{
    if (!canSend())
        return false;
    m_socket->write(encodeOutgoing(text) + kLineEnd);
    return true;
}

void ChatLink::onError()
{
    const QString reason = linkErrorReason(m_socket->error(), m_socket->errorString());
    if (m_everUp) {
        emit linkLost(reason);
        return;
    }
    // A connection that never came up is reported once, however many errors follow.
    if (m_failureReported)
        return;
    m_failureReported = true;
    emit connectFailed(reason);
}

void ChatLink::onReadyRead()
{
    if (!m_sliceQueued)
        runSlices();
}

void ChatLink::runSlices()
{
    m_sliceQueued = false;
    if (runSlice()) {
        m_sliceQueued = true;
        QTimer::singleShot(0, this, &ChatLink::runSlices);
    }
}

bool ChatLink::runSlice()
{
    QElapsedTimer clock;
    clock.start();
    ChatEvents events;
    bool workLeft = true;
    int lines = 0;
    qsizetype characters = 0;
    do {
        while (m_backlog.empty() && workLeft)
            workLeft = readChunk();
        if (!workLeft)
            break;
        const QString line = std::move(m_backlog.front());
        m_backlog.pop_front();
        characters += line.size();
        if (std::optional<ChatEvent> event = cutEvent(line))
            events.append(std::move(*event));
    } while (++lines < kSliceLines && characters < kSliceCharacters && clock.nsecsElapsed() < kSliceNanoseconds);
    if (!events.isEmpty())
        emit eventsReceived(events);
    return workLeft;
}

bool ChatLink::readChunk()
{
    if (m_socket->bytesAvailable() <= 0)
        return false;
    frameBytes(m_socket->read(kReadChunkBytes));
    return true;
}

void ChatLink::frameBytes(QByteArrayView bytes)
{
    m_framer.feed(bytes, [this](QByteArrayView line) {
        QString text = decodeLine(line);
        text += u'\r';
        m_backlog.push_back(std::move(text));
    });
}

void ChatLink::feedBytesForTesting(QByteArrayView bytes)
{
    frameBytes(bytes);
    while (runSlice()) {
    }
}
