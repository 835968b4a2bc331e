// SPDX-License-Identifier: MIT
#include "session/Reconnect.h"

#include <algorithm>

namespace {
constexpr int kFirstDelaySeconds = 2;
constexpr int kLongestDelaySeconds = 60;
} // namespace

int reconnectDelaySeconds(int attempt)
{
    if (attempt >= 5) // 2 << 5 is already past the cap
        return kLongestDelaySeconds;
    return std::min(kFirstDelaySeconds << std::max(attempt, 0), kLongestDelaySeconds);
}

Reconnector::Reconnector(QObject *parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Reconnector::attemptDue);
}

int Reconnector::schedule()
{
    const int seconds = reconnectDelaySeconds(m_attempt++);
    m_active = true;
    m_timer.start(seconds * 1000);
    return seconds;
}

void Reconnector::stop()
{
    m_timer.stop();
    m_attempt = 0;
    m_active = false;
}
