// SPDX-License-Identifier: MIT
#include "ClientConnection.h"

#include "protocol/EventBuilder.h"
#include "protocol/Handshake.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Lines per writev(); Linux takes at most 1024 (IOV_MAX).
constexpr int kMaxIovecs = 1024;
// Ciphertext drained from a failed TLS connection before it is closed, so that
// the alert is not lost to a reset.
constexpr qsizetype kMaxDrainBytes = 64 * 1024;
// Chunks nextLine() reads straight away before it leaves the rest to the
// socket notifier.
constexpr int kChunksPerCall = 4;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

ClientConnection::ClientConnection(int descriptor, Totals *totals, QObject *parent)
    : QObject(parent),
      m_fd(descriptor),
      m_totals(totals),
      m_readNotifier(descriptor, QSocketNotifier::Read),
      m_writeNotifier(descriptor, QSocketNotifier::Write)
{
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    // Lines queued in one pass already leave together; Nagle would only delay
    // interactive chat.
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    quint16 port = 0;
    m_address = remoteAddress(m_fd, &port);
    const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol
            ? QLatin1Char('[') + m_address.toString() + QLatin1Char(']')
            : m_address.toString();
    m_peer = host + QLatin1Char(':') + QString::number(port);

    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &ClientConnection::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &ClientConnection::flush);

    m_loginTimer.setSingleShot(true);
    connect(&m_loginTimer, &QTimer::timeout, this, [this] { failHandshake("Login timed out."); });
    m_holdTimer.setSingleShot(true);
    connect(&m_holdTimer, &QTimer::timeout, this, &ClientConnection::channelReleased);
    m_graceTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, [this] {
        drop(QStringLiteral("output queue above %1 bytes for %2 ms")
                     .arg(m_maxQueueBytes)
                     .arg(m_graceTimer.interval()));
    });
    m_closeTimer.setSingleShot(true);
    m_closeTimer.setInterval(kCloseTimeoutMs);
    // A peer that never reads would keep the final lines pending forever.
    connect(&m_closeTimer, &QTimer::timeout, this, [this] {
        releaseQueue();
        closeDescriptor(true);
        finishLater();
    });
}

void ClientConnection::startTls(std::unique_ptr<TlsSession> session, int handshakeMs)
{
    m_tls = std::move(session);
    if (m_tls->failed()) {
        QMetaObject::invokeMethod(this, [this] { failTls(m_tls->errorString()); }, Qt::QueuedConnection);
        return;
    }
    m_tlsTimer.setSingleShot(true);
    connect(&m_tlsTimer, &QTimer::timeout, this, [this] {
        if (!m_tls->handshakeDone())
            drop(QStringLiteral("TLS handshake not done within %1 ms").arg(m_tlsTimer.interval()));
    });
    m_tlsTimer.start(handshakeMs);
}

bool ClientConnection::peerHasClosed() const
{
    if (m_fd < 0 || m_peerClosed)
        return true;
    pollfd entry{m_fd, POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

ClientConnection::~ClientConnection()
{
    releaseQueue();
    closeDescriptor(false);
}

QHostAddress ClientConnection::remoteAddress(int descriptor, quint16 *port)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return {};
    QHostAddress address(reinterpret_cast<const sockaddr *>(&storage));
    if (port) {
        *port = storage.ss_family == AF_INET6
                ? ntohs(reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_port)
                : ntohs(reinterpret_cast<const sockaddr_in *>(&storage)->sin_port);
    }
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

void ClientConnection::startLoginTimer(int ms)
{
    if (m_state != State::Closing)
        m_loginTimer.start(ms);
}

void ClientConnection::setQueueLimit(qint64 bytes, int holdMs, int graceMs)
{
    m_maxQueueBytes = bytes;
    m_graceTimer.setInterval(graceMs);
    m_holdTimer.setInterval(holdMs);
}

bool ClientConnection::send(const QByteArray &line)
{
    // An empty entry would make flush() write nothing forever.
    if (m_state == State::Closing || line.isEmpty())
        return false;
    m_queue.push_back(line);
    m_queuedBytes += line.size();
    m_totals->queuedBytes += line.size();
    // While the socket is full its write notifier flushes; otherwise the
    // server flushes once at the end of the pass.
    if (!m_flushPending && !m_writeNotifier.isEnabled()) {
        m_flushPending = true;
        emit outputQueued();
    }
    if (m_queuedBytes <= m_maxQueueBytes)
        return false;
    if (!m_graceTimer.isActive()) {
        m_graceTimer.start();
        m_holdTimer.start();
    }
    return m_holdTimer.isActive();
}

void ClientConnection::flush()
{
    m_flushPending = false;
    if (m_fd < 0)
        return;
    if (m_tls)
        flushTls();
    iovec iov[kMaxIovecs];
    while (!m_tls && !m_queue.empty()) {
        int count = 0;
        size_t bytes = 0;
        qsizetype offset = m_frontOffset;
        for (auto it = m_queue.cbegin(); it != m_queue.cend() && count < kMaxIovecs; ++it) {
            iov[count].iov_base = const_cast<char *>(it->constData()) + offset;
            iov[count].iov_len = size_t(it->size() - offset);
            bytes += iov[count].iov_len;
            ++count;
            offset = 0;
        }
        msghdr message{};
        message.msg_iov = iov;
        message.msg_iovlen = size_t(count);
        const ssize_t written = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            // The peer is gone; when it said goodbye first that is no error.
            drop(m_peerClosed ? QString() : errorText(errno));
            return;
        }
        consume(written);
        if (size_t(written) < bytes)
            break; // the socket is full; its write notifier resumes
    }
    if (m_fd < 0)
        return;
    const bool ciphertextLeft = m_tlsOutOffset < m_tlsOut.size();
    // Before the TLS handshake is done queued lines cannot leave yet.
    const bool linesCanLeave = !m_queue.empty() && (!m_tls || m_tls->handshakeDone());
    m_writeNotifier.setEnabled(ciphertextLeft || linesCanLeave);
    if (m_queuedBytes <= m_maxQueueBytes && m_graceTimer.isActive()) {
        m_graceTimer.stop();
        m_holdTimer.stop();
        emit channelReleased();
    }
    if (m_queue.empty() && !ciphertextLeft && m_state == State::Closing && !m_outputShutDown)
        shutDownOutput();
}

// Encrypts one record's worth of the queue at a time, the next only once the
// socket has taken the last, so the queue limits keep counting plaintext.
void ClientConnection::flushTls()
{
    while (sendCiphertext()) {
        if (m_queue.empty() || !m_tls->handshakeDone())
            return;
        const qsizetype taken = m_tls->writeQueued(m_queue, m_frontOffset);
        if (taken == 0) {
            if (m_tls->failed())
                failTls(m_tls->errorString());
            else
                releaseQueue(); // the peer sent close-notify: nobody reads this any more
            return;
        }
        consume(taken);
        m_tlsOut = m_tls->takeOutput();
        m_tlsOutOffset = 0;
    }
}

// Writes the pending ciphertext. False when the socket is full (its write
// notifier resumes) or failed (the connection is dropped).
bool ClientConnection::sendCiphertext()
{
    while (m_fd >= 0 && m_tlsOutOffset < m_tlsOut.size()) {
        const ssize_t written = ::send(m_fd, m_tlsOut.constData() + m_tlsOutOffset,
                                       size_t(m_tlsOut.size() - m_tlsOutOffset), MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier.setEnabled(true);
                return false;
            }
            drop(m_peerClosed ? QString() : errorText(errno));
            return false;
        }
        m_tlsOutOffset += written;
    }
    if (m_fd < 0)
        return false;
    m_tlsOut = QByteArray();
    m_tlsOutOffset = 0;
    return true;
}

// Sends the alert if the socket takes it at once, then closes without
// waiting for anything more from the peer.
void ClientConnection::failTls(const QString &reason)
{
    if (m_fd < 0)
        return;
    m_tlsOut += m_tls->takeOutput();
    if (m_tlsOutOffset < m_tlsOut.size()) {
        ::send(m_fd, m_tlsOut.constData() + m_tlsOutOffset, size_t(m_tlsOut.size() - m_tlsOutOffset),
               MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    m_tlsOut = QByteArray();
    m_tlsOutOffset = 0;
    abandon(reason);
    // Unread input would turn the close into a reset that can overtake the alert.
    char discard[4096];
    for (qsizetype drained = 0; drained < kMaxDrainBytes;) {
        const ssize_t n = ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT);
        if (n <= 0)
            break;
        drained += n;
    }
    ::shutdown(m_fd, SHUT_WR);
    closeDescriptor(false);
    finishLater();
}

void ClientConnection::consume(qsizetype written)
{
    m_queuedBytes -= written;
    m_totals->queuedBytes -= written;
    while (written > 0) {
        const qsizetype left = m_queue.front().size() - m_frontOffset;
        if (written < left) {
            m_frontOffset += written;
            return;
        }
        written -= left;
        m_queue.pop_front();
        m_frontOffset = 0;
    }
}

void ClientConnection::releaseQueue()
{
    m_totals->queuedBytes -= m_queuedBytes;
    m_queuedBytes = 0;
    m_frontOffset = 0;
    std::deque<QByteArray>().swap(m_queue);
    m_graceTimer.stop();
    m_holdTimer.stop();
}

void ClientConnection::onReadable()
{
    if (m_state == State::Closing) {
        // Read and discard until the peer closes, so that closing our end
        // never resets a connection whose last lines the peer still reads.
        while (m_fd >= 0 && readChunk()) {
        }
        return;
    }
    const bool gotData = readChunk();
    if (m_state == State::Closing)
        return; // refused by what it sent; close() reads on until the peer closes
    if (gotData || m_peerClosed) {
        // Nothing more is read until these lines have been handled.
        m_readNotifier.setEnabled(false);
        emit inputReady();
    }
}

// Reads one chunk. False when nothing came, the peer closed, or the
// connection failed.
bool ClientConnection::readChunk()
{
    char buffer[kReadChunkBytes];
    ssize_t n;
    do {
        n = ::read(m_fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        if (m_state != State::Closing && m_tls)
            takeCiphertext(QByteArrayView(buffer, n));
        else if (m_state != State::Closing)
            takeBytes(QByteArrayView(buffer, n));
        return true;
    }
    if (n == 0) {
        m_peerClosed = true;
        m_readNotifier.setEnabled(false);
        if (m_state == State::Closing && m_outputShutDown)
            finishLater();
        return false;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK)
        drop(errorText(errno));
    return false;
}

void ClientConnection::takeBytes(QByteArrayView data)
{
    while (m_state == State::Mode && !data.isEmpty()) {
        if (data.front() != Handshake::kModeBytes[m_modeBytesSeen]) {
            failHandshake("Unsupported protocol.");
            return;
        }
        data = data.sliced(1);
        if (++m_modeBytesSeen == Handshake::kModeBytes.size())
            m_state = State::Filler;
    }
    if (!data.isEmpty())
        m_framer.append(data);
}

void ClientConnection::takeCiphertext(QByteArrayView data)
{
    const bool handshakeWasDone = m_tls->handshakeDone();
    QByteArray plain;
    const TlsSession::Status status = m_tls->feed(data, &plain);
    if (status == TlsSession::Status::Failed) {
        failTls(m_tls->errorString());
        return;
    }
    // Handshake replies, or the answer to a close-notify, leave at once.
    m_tlsOut += m_tls->takeOutput();
    if (!sendCiphertext() && m_fd < 0)
        return;
    if (status == TlsSession::Status::Closed) {
        m_peerClosed = true; // close-notify: the peer has said goodbye
        m_readNotifier.setEnabled(false);
    }
    if (!handshakeWasDone && m_tls->handshakeDone()) {
        m_tlsTimer.stop();
        if (!m_queue.empty() && !m_flushPending) {
            m_flushPending = true;
            emit outputQueued();
        }
    }
    if (!plain.isEmpty())
        takeBytes(plain);
}

bool ClientConnection::nextLine(QByteArrayView &line)
{
    // An endless overlong line must not keep one call reading forever.
    int chunksLeft = kChunksPerCall;
    while (m_state != State::Closing) {
        const LineFramer::Result result = m_framer.next(line);
        if (result == LineFramer::Result::NeedMore) {
            if (m_peerClosed) {
                close();
                return false;
            }
            if (chunksLeft-- > 0 && readChunk())
                continue;
            if (m_state != State::Closing && !m_peerClosed)
                m_readNotifier.setEnabled(true);
            if (m_peerClosed)
                continue;
            return false;
        }
        if (m_state != State::Chatting)
            handleHandshakeLine(result, line);
        else if (result == LineFramer::Result::Line)
            return true;
        else
            send(Protocol::errorLine("That line is too long."));
    }
    return false;
}

void ClientConnection::handleHandshakeLine(LineFramer::Result result, QByteArrayView line)
{
    if (result == LineFramer::Result::Overlong) {
        failHandshake("Bad login.");
        return;
    }
    switch (m_state) {
    case State::Filler:
        // The mode bytes are followed by two empty lines.
        if (!line.isEmpty())
            failHandshake("Bad login.");
        else if (++m_fillerLinesSeen == Handshake::kEmptyLines)
            m_state = State::Name;
        break;
    case State::Name:
        m_name = line.toByteArray();
        m_state = State::Password;
        break;
    case State::Password:
        m_state = State::AwaitingLogin;
        emit loginRequested(m_name, line.toByteArray());
        break;
    case State::Mode:
    case State::AwaitingLogin:
    case State::Chatting:
    case State::Closing:
        break;
    }
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
    send(Protocol::infoLine(message));
    close(QString::fromUtf8(message));
}

void ClientConnection::failHandshake(QByteArrayView message)
{
    if (m_state == State::Closing)
        return;
    emit handshakeFailed(QString::fromUtf8(message));
    refuse(message);
}

void ClientConnection::close(const QString &reason)
{
    if (m_state == State::Closing)
        return;
    m_state = State::Closing;
    m_closeReason = reason;
    m_loginTimer.stop();
    m_closeTimer.start();
    m_tlsTimer.stop();
    if (m_fd >= 0 && !m_peerClosed)
        m_readNotifier.setEnabled(true);
    if (m_tls && !m_tls->handshakeDone())
        releaseQueue(); // nothing can be sent before the handshake
    if (m_queue.empty())
        QMetaObject::invokeMethod(this, &ClientConnection::shutDownOutput, Qt::QueuedConnection);
}

void ClientConnection::shutDownOutput()
{
    if (m_fd < 0 || m_outputShutDown)
        return;
    if (m_tls) {
        if (!m_closeNotifyQueued) {
            m_closeNotifyQueued = true;
            m_tls->shutdown();
            m_tlsOut += m_tls->takeOutput();
        }
        if (!sendCiphertext())
            return; // the write notifier's flush comes back here
    }
    m_outputShutDown = true;
    ::shutdown(m_fd, SHUT_WR);
    if (m_peerClosed)
        finishLater();
}

// Closing at once, without the goodbye a close waits for: the first reason
// given stays, timers stop and waiting senders are let go.
void ClientConnection::abandon(const QString &reason)
{
    if (m_closeReason.isEmpty())
        m_closeReason = reason;
    m_state = State::Closing;
    m_loginTimer.stop();
    m_tlsTimer.stop();
    releaseQueue();
}

void ClientConnection::drop(const QString &reason)
{
    abandon(reason);
    closeDescriptor(true);
    finishLater();
}

void ClientConnection::closeDescriptor(bool reset)
{
    if (m_fd < 0)
        return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    if (reset) {
        const linger abortive{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    ::close(m_fd);
    m_fd = -1;
}

void ClientConnection::finishLater()
{
    if (m_finishQueued)
        return;
    m_finishQueued = true;
    QMetaObject::invokeMethod(this, &ClientConnection::finish, Qt::QueuedConnection);
}

void ClientConnection::finish()
{
    m_state = State::Closing;
    m_loginTimer.stop();
    m_tlsTimer.stop();
    m_closeTimer.stop();
    releaseQueue();
    closeDescriptor(false);
    emit closed();
}
