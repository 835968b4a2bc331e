// SPDX-License-Identifier: MIT
#include "LoginThrottle.h"

#include <algorithm>

qint64 LoginThrottle::delayAfter(int failures) const
{
    if (failures <= 0)
        return 0;
    qint64 delay = m_policy.firstDelayMs;
    for (int i = 1; i < failures && delay < m_policy.maxDelayMs; ++i)
        delay *= 2;
    return std::min(delay, m_policy.maxDelayMs);
}

QByteArray LoginThrottle::addressKey(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QByteArray::number(v4);
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    return QByteArray(reinterpret_cast<const char *>(v6.c), 8); // the /64 prefix
}

QByteArray LoginThrottle::nameKey(QByteArrayView name)
{
    return name.toByteArray().toLower();
}

bool LoginThrottle::expired(const Entry &entry, qint64 nowMs) const
{
    return nowMs - entry.lastFailureMs >= m_policy.forgetAfterMs;
}

qint64 LoginThrottle::waitIn(const Table &table, const QByteArray &key, qint64 nowMs) const
{
    const auto it = table.constFind(key);
    if (it == table.constEnd() || expired(*it, nowMs))
        return 0;
    return std::max<qint64>(0, it->allowedAtMs - nowMs);
}

qint64 LoginThrottle::delayFor(const QHostAddress &address, QByteArrayView name, qint64 nowMs) const
{
    return std::max(waitIn(m_addresses, addressKey(address), nowMs), waitIn(m_names, nameKey(name), nowMs));
}

qint64 LoginThrottle::admit(const QHostAddress &address, QByteArrayView name, qint64 nowMs)
{
    const qint64 wait = delayFor(address, name, nowMs);
    if (wait > 0)
        return wait;
    reserve(m_addresses, addressKey(address), nowMs);
    reserve(m_names, nameKey(name), nowMs);
    return 0;
}

void LoginThrottle::reserve(Table &table, const QByteArray &key, qint64 nowMs)
{
    const auto it = table.find(key);
    if (it == table.end())
        return; // no failure yet: nothing to hold back
    if (expired(*it, nowMs))
        table.erase(it);
    else
        it->allowedAtMs = nowMs + delayAfter(it->failures);
}

void LoginThrottle::recordFailure(const QHostAddress &address, QByteArrayView name, qint64 nowMs)
{
    fail(m_addresses, addressKey(address), nowMs);
    fail(m_names, nameKey(name), nowMs);
}

void LoginThrottle::fail(Table &table, const QByteArray &key, qint64 nowMs)
{
    auto it = table.find(key);
    if (it == table.end()) {
        makeRoom(table, nowMs);
        it = table.insert(key, Entry{});
    } else if (expired(*it, nowMs)) {
        *it = Entry{};
    }
    // A long run of failures stays at the longest wait; the count stops growing there.
    if (delayAfter(it->failures) < m_policy.maxDelayMs)
        ++it->failures;
    it->lastFailureMs = nowMs;
    it->allowedAtMs = nowMs + delayAfter(it->failures);
}

void LoginThrottle::recordSuccess(const QHostAddress &address, QByteArrayView name, qint64 nowMs)
{
    m_names.remove(nameKey(name));
    // The address keeps its failures (it may be guessing other names), but
    // not the slot this attempt reserved.
    unreserve(m_addresses, addressKey(address), nowMs);
}

void LoginThrottle::release(const QHostAddress &address, QByteArrayView name, qint64 nowMs)
{
    unreserve(m_addresses, addressKey(address), nowMs);
    unreserve(m_names, nameKey(name), nowMs);
}

void LoginThrottle::unreserve(Table &table, const QByteArray &key, qint64 nowMs)
{
    const auto it = table.find(key);
    if (it == table.end())
        return;
    if (expired(*it, nowMs))
        table.erase(it);
    else
        it->allowedAtMs = it->lastFailureMs + delayAfter(it->failures);
}

void LoginThrottle::makeRoom(Table &table, qint64 nowMs)
{
    if (table.size() < m_policy.maxEntries)
        return;
    for (auto it = table.begin(); it != table.end();)
        it = expired(*it, nowMs) ? table.erase(it) : std::next(it);
    if (table.size() < m_policy.maxEntries)
        return;
    const auto oldest = std::min_element(table.begin(), table.end(), [](const Entry &a, const Entry &b) {
        return a.lastFailureMs < b.lastFailureMs;
    });
    table.erase(oldest);
}
