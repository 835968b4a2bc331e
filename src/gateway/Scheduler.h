// SPDX-License-Identifier: MIT
#pragma once

#include "ClientConnection.h"
#include "GatewayLimits.h"

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

// Scheduling and fairness. Work is done in passes. Sockets only buffer what
// they read; a pass then gives every client with buffered lines a turn of a
// few lines, round robin, and ends by flushing each client that has output
// once. A client that sends faster than its line rate, or whose channel has a
// reader too far behind, is not given turns (nor read) until that changes, so
// TCP slows it down and nothing it sent is lost. Over the output budget of all
// clients together, the client furthest behind is dropped.
class Scheduler : public QObject
{
    Q_OBJECT

public:
    struct Sender;

    // Senders paused until a reader catches up; the chat world keeps one per channel.
    class WaitList
    {
        friend class Scheduler;
        QList<Sender *> m_senders;
    };

    // Handles one chat line of a logged-in client; returns the list its sender
    // must wait on, because a reader is now too far behind, or null.
    using LineHandler = std::function<WaitList *(ClientConnection *connection, QByteArrayView line)>;

    Scheduler(const GatewayLimits &limits, const QSet<ClientConnection *> &connections,
              const ClientConnection::Totals &totals, QObject *parent = nullptr);
    ~Scheduler() override;

    void setLineHandler(LineHandler handler) { m_handleLine = std::move(handler); }

    // Gives the connection turns when it has input and flushes it when it has output.
    void watch(ClientConnection *connection);
    // The connection has logged in: from now on its lines are paced.
    void admit(ClientConnection *connection);
    void forget(ClientConnection *connection);

    // The senders on the list go on.
    void wake(WaitList &list);
    // The connection's sender no longer waits (it left the channel it waited in).
    void stopWaiting(ClientConnection *connection);

    // A line was queued for a recipient; a turn, and a pass, end after so many.
    void noteDelivery() { ++m_deliveries; }

private:
    void schedulePass();
    void runPass();
    bool takeTurn(ClientConnection *connection, qint64 nowNs);
    bool takeToken(Sender *sender, qint64 nowNs);
    void makeReady(ClientConnection *connection, bool fresh = false);
    void flushAll();
    void enforceOutputBudget();
    Sender *senderOf(const ClientConnection *connection) const;
    void hold(ClientConnection *connection);
    void releaseClosedPeers();

    GatewayLimits m_limits;
    const QSet<ClientConnection *> &m_connections;
    const ClientConnection::Totals &m_totals;
    LineHandler m_handleLine;
    std::unordered_map<const ClientConnection *, std::unique_ptr<Sender>> m_senders;
    std::deque<ClientConnection *> m_ready; // clients with lines to handle, in turn order
    QSet<ClientConnection *> m_readySet;
    std::vector<ClientConnection *> m_dirty; // clients with output since the last flush
    qint64 m_deliveries = 0;
    bool m_passScheduled = false;
    QElapsedTimer m_clock;
    // Senders not read for now (line rate, a reader behind), and the timer
    // that looks whether their peers have gone meanwhile.
    QSet<ClientConnection *> m_held;
    QTimer m_heldTimer;
};
