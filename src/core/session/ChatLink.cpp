// SPDX-License-Identifier: MIT
#include "session/ChatLink.h"

#include "protocol/Handshake.h"
#include "reception/TextCodec.h"
#include "session/ProxySetting.h"

#include <QElapsedTimer>
#include <QSslSocket>
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
// What may wait for a secure server to be trusted: the login and a few typed lines.
constexpr qsizetype kHeldBytes = 64 * 1024;

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

ChatLink::ChatLink(QObject *parent) : QObject(parent), m_socket(new QSslSocket(this))
{
    m_socket->setObjectName(QStringLiteral("Winsock1"));
    m_socket->setReadBufferSize(kSocketBufferBytes);
    connect(m_socket, &QTcpSocket::readyRead, this, &ChatLink::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ChatLink::onError);
    connect(m_socket, &QTcpSocket::stateChanged, this, &ChatLink::stateChanged);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_tcpUp = true;
        // A secure link is up only once its server is trusted.
        if (!m_secure)
            m_everUp = true;
        m_framer.reset(); // an unfinished line belongs to the link it came on
    });
}

QTcpSocket *ChatLink::socket() const
{
    return m_socket;
}

QAbstractSocket::SocketState ChatLink::state() const
{
    return m_socket->state();
}

QSsl::SslProtocol ChatLink::secureProtocol() const
{
    return isSecure() ? m_socket->sessionProtocol() : QSsl::UnknownProtocol;
}

void ChatLink::connectTo(const QString &host, quint16 port)
{
    ServerEntry entry;
    entry.raw = host;
    entry.host = host;
    entry.port = port;
    connectTo(entry, QNetworkProxy(QNetworkProxy::NoProxy), nullptr);
}

void ChatLink::connectTo(const ServerEntry &entry, const QNetworkProxy &proxy, KnownHosts *knownHosts)
{
    dropTrustCheck();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_host = entry.host;
    m_port = entry.port;
    m_secure = entry.secure && knownHosts;
    m_trusted = false;
    m_tcpUp = false;
    m_anyReceived = false;
    m_held.clear();
    m_loginSent = false;
    m_everUp = false;
    m_failureReported = false;
    m_socket->setProxy(proxy);
    if (!m_secure) {
        m_socket->connectToHost(m_host, m_port);
        return;
    }
    auto *check = new ServerTrustCheck(m_socket, knownHosts, entry.host, entry.hostPort(), this);
    check->setHandshakeTimeout(m_handshakeMs);
    m_trustCheck = check;
    connect(check, &ServerTrustCheck::trusted, this, &ChatLink::onTrusted);
    connect(check, &ServerTrustCheck::untrusted, this, [this](const TrustDecision &decision) {
        m_held.clear();
        m_loginSent = false;
        emit untrusted(decision);
    });
    connect(check, &ServerTrustCheck::handshakeFailed, this, &ChatLink::failConnection);
    m_socket->connectToHostEncrypted(m_host, m_port);
}

void ChatLink::dropTrustCheck()
{
    if (m_trustCheck) {
        m_trustCheck->disconnect(this);
        m_trustCheck->deleteLater();
    }
    m_trustCheck = nullptr;
}

void ChatLink::onTrusted()
{
    m_trusted = true;
    m_everUp = true;
    if (!m_held.isEmpty())
        m_socket->write(std::exchange(m_held, {}));
    emit trusted();
}

void ChatLink::failConnection(const QString &reason)
{
    m_held.clear();
    if (m_failureReported)
        return;
    m_failureReported = true;
    emit connectFailed(reason);
}

bool ChatLink::writeOut(const QByteArray &bytes)
{
    if (!m_secure || m_trusted) {
        m_socket->write(bytes);
        return true;
    }
    // Nothing reaches a secure server before it is trusted.
    if (m_held.size() + bytes.size() > kHeldBytes)
        return false;
    m_held += bytes;
    return true;
}

bool ChatLink::writeHandshake(const QString &name, const QString &password)
{
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return false;
    writeOut(kHandshakePrefix + encodeOutgoing(name) + kLineEnd + encodeOutgoing(password) + kLineEnd);
    m_loginSent = true;
    return true;
}

void ChatLink::close()
{
    dropTrustCheck();
    m_held.clear();
    m_socket->close();
    m_loginSent = false;
    m_trusted = false;
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
    return writeOut(encodeOutgoing(text) + kLineEnd);
}

void ChatLink::onError()
{
    // The secure handshake's failures are the trust check's to report.
    if (m_secure && !m_trusted && m_tcpUp)
        return;
    const auto error = m_socket->error();
    if (!m_everUp) {
        // A proxy's fault names the proxy, not the server behind it.
        const QString viaProxy = proxyErrorText(m_socket->proxy(), error, m_host, m_port);
        if (!viaProxy.isEmpty()) {
            if (!m_failureReported) {
                m_failureReported = true;
                emit connectFailedText(viaProxy);
            }
            return;
        }
    }
    const QString reason = linkErrorReason(error, m_socket->errorString());
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
    if (!m_anyReceived && !m_secure) {
        // A secure server answering a plain client: say so instead of showing its record as text.
        if (m_socket->bytesAvailable() < 3)
            return;
        m_anyReceived = true;
        if (looksLikeTls(m_socket->peek(3))) {
            m_socket->abort();
            m_everUp = false;
            failConnection(QStringLiteral("the server at %1 expects a secure connection (write it as tls://%1)")
                               .arg(proxyAddressText(m_host, m_port)));
            return;
        }
    }
    m_anyReceived = true;
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
