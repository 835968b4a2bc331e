// SPDX-License-Identifier: MIT
#include "time/Clock.h"

namespace {
std::function<QTime()> &clockOverride()
{
    static std::function<QTime()> clock;
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
