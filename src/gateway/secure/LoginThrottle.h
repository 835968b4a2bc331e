// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QHostAddress>
#include <QtGlobal>

// Slows password guessing down per client address and per account name.
//
// After a failed login, the next attempt from that address, and the next
// attempt for that name from anywhere, must wait 1 s; every further failure
// doubles the wait up to 60 s. A key with no failure for the quiet period is
// forgotten. An attempt that is let through reserves the next slot of its
// keys, so opening many connections at once does not run more guesses in
// parallel. A success clears the name and gives the address its slot back.
//
// Pure logic: time is passed in (milliseconds on any monotonic clock), and
// each table keeps at most maxEntries keys, dropping the longest quiet ones.
class LoginThrottle
{
public:
    struct Policy
    {
        qint64 firstDelayMs = 1000;
        qint64 maxDelayMs = 60 * 1000;
        qint64 forgetAfterMs = 15 * 60 * 1000;
        int maxEntries = 10000; // per table
    };

    LoginThrottle() = default;
    explicit LoginThrottle(const Policy &policy) : m_policy(policy) {}

    // Milliseconds until an attempt for this name from this address may be
    // checked; 0 when it may be checked now.
    qint64 delayFor(const QHostAddress &address, QByteArrayView name, qint64 nowMs) const;
    // delayFor(), and when that is 0, takes the slot: the next attempt on the
    // same keys waits as if this one failed, until its verdict is recorded.
    qint64 admit(const QHostAddress &address, QByteArrayView name, qint64 nowMs);
    void recordFailure(const QHostAddress &address, QByteArrayView name, qint64 nowMs);
    void recordSuccess(const QHostAddress &address, QByteArrayView name, qint64 nowMs);
    // An admitted attempt that got no verdict (the check could not run): its
    // keys wait only as long as their failures say.
    void release(const QHostAddress &address, QByteArrayView name, qint64 nowMs);

    // The wait after this many failures in a row.
    qint64 delayAfter(int failures) const;
    qsizetype addressEntries() const { return m_addresses.size(); }
    qsizetype nameEntries() const { return m_names.size(); }

    // IPv6 clients get a whole /64 each, so the address key is the prefix.
    static QByteArray addressKey(const QHostAddress &address);
    // Names are compared without ASCII case, as logins are.
    static QByteArray nameKey(QByteArrayView name);

private:
    struct Entry
    {
        int failures = 0;
        qint64 lastFailureMs = 0;
        qint64 allowedAtMs = 0;
    };
    using Table = QHash<QByteArray, Entry>;

    qint64 waitIn(const Table &table, const QByteArray &key, qint64 nowMs) const;
    void reserve(Table &table, const QByteArray &key, qint64 nowMs);
    void unreserve(Table &table, const QByteArray &key, qint64 nowMs);
    void fail(Table &table, const QByteArray &key, qint64 nowMs);
    void makeRoom(Table &table, qint64 nowMs);
    bool expired(const Entry &entry, qint64 nowMs) const;

    Policy m_policy;
    Table m_addresses;
    Table m_names;
};
