// SPDX-License-Identifier: MIT
#include "time/Clock.h"

namespace {
std::function<QTime()> &clockOverride()
{
    static std::function<QTime()> clock;
    return clock;
}

std::function<QDateTime()> &dateTimeOverride()
{
    static std::function<QDateTime()> clock;
    return clock;
}
} // namespace

QTime currentTime()
{
    const auto &clock = clockOverride();
    return clock ? clock() : QTime::currentTime();
}

QString formattedTime()
{
    return currentTime().toString(QStringLiteral("HH:mm"));
}

void setClockForTesting(std::function<QTime()> clock)
{
    clockOverride() = std::move(clock);
}

QDateTime currentDateTime()
{
    const auto &clock = dateTimeOverride();
    return clock ? clock() : QDateTime::currentDateTime();
}

qint64 currentEpochSeconds()
{
    const auto &clock = dateTimeOverride();
    return clock ? clock().toSecsSinceEpoch() : QDateTime::currentSecsSinceEpoch();
}

void setDateTimeClockForTesting(std::function<QDateTime()> clock)
{
    dateTimeOverride() = std::move(clock);
}
