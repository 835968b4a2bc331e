#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// One client socket: handshake, line framing and bounded output. Knows nothing
// about users or channels; the server reacts to its signals.
//
// Closing never happens synchronously inside a call, so the server can send to
// many connections in a loop without any of them vanishing mid-loop; closed()
// is emitted exactly once, later, from the event loop.
class ClientConnection : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DefaultMaxPendingOutput = 4 * 1024 * 1024;
    static constexpr qint64 ReadBufferSize = 256 * 1024;
    static constexpr int LoginTimeoutMs = 60 * 1000;
    static constexpr int CloseTimeoutMs = 5 * 1000;

    // Takes ownership of the connected socket.
    explicit ClientConnection(QTcpSocket *socket, QObject *parent = nullptr);

    // "address:port" of the remote end, for log lines.
    QString peer() const { return m_peer; }
    QString closeReason() const { return m_closeReason; }

    void setMaxPendingOutput(qint64 bytes) { m_maxPendingOutput = bytes; }

    void send(const QByteArray &data);
    // Answers loginRequested(): from now on lines arrive as lineReceived().
    void acceptLogin();
    // Sends a 1019 line, then closes once it has been written.
    void refuse(QByteArrayView message);
    void close(const QString &reason = {});

signals:
    void loginRequested(const QByteArray &name, const QByteArray &password);
    void lineReceived(const QByteArray &line);
    void handshakeFailed(const QString &reason);
    void closed();

private:
    enum class State { Mode, Filler, Name, Password, AwaitingLogin, Chatting, Closing };

    void onReadyRead();
    void handleHandshakeLine(LineReader::Result result, const QByteArray &line);
    void failHandshake(QByteArrayView message);
    void drop(const QString &reason);
    void shutDown();
    void finish();

    QTcpSocket *m_socket;
    QString m_peer;
    LineReader m_reader;
    QTimer m_loginTimer;
    State m_state = State::Mode;
    int m_modeBytesSeen = 0;
    int m_fillerLinesSeen = 0;
    QByteArray m_name;
    QString m_closeReason;
    qint64 m_maxPendingOutput = DefaultMaxPendingOutput;
    bool m_finished = false;
};
