// SPDX-License-Identifier: MIT
#include "Scheduler.h"

#include <algorithm>
#include <cmath>

namespace {

// A client's turn ends after this many lines or deliveries (lines queued for a
// recipient), so that no client monopolises a pass; a pass stops giving turns
// after kDeliveriesPerPass, so that output is flushed often.
constexpr int kLinesPerTurn = 16;
constexpr qint64 kDeliveriesPerTurn = 256;
constexpr qint64 kDeliveriesPerPass = 8192;
// How often a sender that is not read is asked whether its peer has closed:
// a closed one must stop counting towards its address's caps within a second.
constexpr int kHeldCheckMs = 400;

} // namespace

// A logged-in client's pace: its line tokens, and whether it waits for a reader.
struct Scheduler::Sender
{
    ClientConnection *connection = nullptr;
    double tokens = 0; // lines it may send now
    qint64 refilledAtNs = 0;
    WaitList *waitingIn = nullptr; // for a reader of its channel to catch up
    QTimer rateTimer;              // ends a pause for its line rate
};

Scheduler::Scheduler(const GatewayLimits &limits, const QSet<ClientConnection *> &connections,
                     const ClientConnection::Totals &totals, QObject *parent)
    : QObject(parent), m_limits(limits), m_connections(connections), m_totals(totals)
{
    m_clock.start();
    m_heldTimer.setInterval(kHeldCheckMs);
    connect(&m_heldTimer, &QTimer::timeout, this, &Scheduler::releaseClosedPeers);
}

Scheduler::~Scheduler() = default;

void Scheduler::watch(ClientConnection *connection)
{
    connect(connection, &ClientConnection::inputReady, this, [this, connection] { makeReady(connection, true); });
    connect(connection, &ClientConnection::outputQueued, this, [this, connection] {
        m_dirty.push_back(connection);
        schedulePass();
    });
}

void Scheduler::admit(ClientConnection *connection)
{
    auto sender = std::make_unique<Sender>();
    sender->connection = connection;
    sender->tokens = m_limits.lineBurst;
    sender->refilledAtNs = m_clock.nsecsElapsed();
    sender->rateTimer.setSingleShot(true);
    connect(&sender->rateTimer, &QTimer::timeout, this, [this, connection] { makeReady(connection); });
    m_senders[connection] = std::move(sender);
}

void Scheduler::forget(ClientConnection *connection)
{
    if (m_readySet.remove(connection))
        std::erase(m_ready, connection);
    std::erase(m_dirty, connection);
    m_held.remove(connection);
    const auto it = m_senders.find(connection);
    if (it == m_senders.end())
        return;
    if (WaitList *list = it->second->waitingIn)
        list->m_senders.removeOne(it->second.get());
    m_senders.erase(it);
}

Scheduler::Sender *Scheduler::senderOf(const ClientConnection *connection) const
{
    const auto it = m_senders.find(connection);
    return it == m_senders.end() ? nullptr : it->second.get();
}

void Scheduler::schedulePass()
{
    if (m_passScheduled)
        return;
    m_passScheduled = true;
    QMetaObject::invokeMethod(this, &Scheduler::runPass, Qt::QueuedConnection);
}

void Scheduler::makeReady(ClientConnection *connection, bool fresh)
{
    if (connection->isClosing() || m_readySet.contains(connection))
        return;
    m_readySet.insert(connection);
    // A client that had handled all its input goes before those that still
    // have a backlog, so a quiet channel never waits for a busy one's round.
    if (fresh)
        m_ready.push_front(connection);
    else
        m_ready.push_back(connection);
    schedulePass();
}

// Reading happened before this pass (socket notifiers); now every client with
// buffered lines gets one turn, unless the pass has done enough, and each
// client with output is flushed once.
void Scheduler::runPass()
{
    m_passScheduled = false;
    const qint64 nowNs = m_clock.nsecsElapsed();
    const qint64 deliveredBefore = m_deliveries;
    for (size_t turns = m_ready.size(); turns > 0 && !m_ready.empty(); --turns) {
        if (m_deliveries - deliveredBefore >= kDeliveriesPerPass || m_totals.queuedBytes > m_limits.totalQueueBytes)
            break;
        ClientConnection *connection = m_ready.front();
        m_ready.pop_front();
        if (takeTurn(connection, nowNs))
            m_ready.push_back(connection);
        else
            m_readySet.remove(connection);
    }
    flushAll();
    enforceOutputBudget();
    if (!m_ready.empty())
        schedulePass();
}

// True when the client still has lines and may go on in the next pass.
bool Scheduler::takeTurn(ClientConnection *connection, qint64 nowNs)
{
    QByteArrayView line;
    const qint64 deliveredBefore = m_deliveries;
    for (int i = 0; i < kLinesPerTurn && m_deliveries - deliveredBefore < kDeliveriesPerTurn; ++i) {
        Sender *sender = senderOf(connection);
        if (sender && sender->waitingIn)
            return false;
        if (sender && !takeToken(sender, nowNs)) {
            hold(connection);
            return false;
        }
        // Before the login this runs the handshake, which may admit the sender.
        if (!connection->nextLine(line))
            return false;
        sender = senderOf(connection);
        if (!sender)
            continue;
        WaitList *waitOn = m_handleLine(connection, line);
        if (connection->isClosing())
            return false;
        if (waitOn) {
            sender->waitingIn = waitOn;
            waitOn->m_senders.append(sender);
            hold(connection);
            return false;
        }
    }
    return true;
}

// Token bucket: a user may send lineBurst lines at once, then lineRate lines
// per second. Out of tokens, it is not read again until the next one is due.
bool Scheduler::takeToken(Sender *sender, qint64 nowNs)
{
    if (m_limits.lineRate <= 0)
        return true;
    const double refill = double(nowNs - sender->refilledAtNs) * m_limits.lineRate / 1e9;
    sender->tokens = std::min(double(m_limits.lineBurst), sender->tokens + refill);
    sender->refilledAtNs = nowNs;
    if (sender->tokens >= 1) {
        sender->tokens -= 1;
        return true;
    }
    const double waitMs = (1 - sender->tokens) * 1000 / m_limits.lineRate;
    sender->rateTimer.start(int(std::ceil(waitMs)));
    return false;
}

void Scheduler::wake(WaitList &list)
{
    const QList<Sender *> waiting = std::exchange(list.m_senders, {});
    for (Sender *sender : waiting) {
        sender->waitingIn = nullptr;
        makeReady(sender->connection);
    }
}

void Scheduler::stopWaiting(ClientConnection *connection)
{
    Sender *sender = senderOf(connection);
    if (!sender || !sender->waitingIn)
        return;
    sender->waitingIn->m_senders.removeOne(sender);
    sender->waitingIn = nullptr;
    makeReady(connection);
}

void Scheduler::flushAll()
{
    // flush() may drop a connection, but never deletes it here.
    const std::vector<ClientConnection *> dirty = std::exchange(m_dirty, {});
    for (ClientConnection *connection : dirty)
        connection->flush();
}

// Over the total, the clients furthest behind go first, until it fits.
void Scheduler::enforceOutputBudget()
{
    while (m_totals.queuedBytes > m_limits.totalQueueBytes) {
        ClientConnection *furthest = nullptr;
        for (ClientConnection *connection : m_connections) {
            if (!furthest || connection->queuedBytes() > furthest->queuedBytes())
                furthest = connection;
        }
        if (!furthest || furthest->queuedBytes() == 0)
            return;
        furthest->drop(QStringLiteral("furthest behind (%1 bytes unsent) when all output queues "
                                      "together exceeded %2 bytes")
                               .arg(furthest->queuedBytes())
                               .arg(m_limits.totalQueueBytes));
    }
}

void Scheduler::hold(ClientConnection *connection)
{
    m_held.insert(connection);
    if (!m_heldTimer.isActive())
        m_heldTimer.start();
}

// A held sender's socket is not read, so its closing would only be seen once
// its turn comes again; what it sent before closing is not handled.
void Scheduler::releaseClosedPeers()
{
    const QSet<ClientConnection *> held = m_held;
    for (ClientConnection *connection : held) {
        const Sender *sender = senderOf(connection);
        if (!sender || (!sender->waitingIn && !sender->rateTimer.isActive())) {
            m_held.remove(connection);
            continue;
        }
        if (connection->peerHasClosed()) {
            m_held.remove(connection);
            connection->drop(QStringLiteral("closed by the client while its input was held back"));
        }
    }
    if (m_held.isEmpty())
        m_heldTimer.stop();
}
