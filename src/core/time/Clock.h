// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <functional>

// The one seam through which the program reads the time of day, so that a
// test can make every timestamp read 12:34.

QTime currentTime();
// The time of day as display lines show it: hours and minutes on the 24-hour clock.
QString formattedTime();
// Replaces the clock; an empty function restores the real one.
void setClockForTesting(std::function<QTime()> clock);

// The local date and time, for what needs the day as well (the chat log).
QDateTime currentDateTime();
// The same as seconds since the epoch: cheap enough to read for every line.
qint64 currentEpochSeconds();
// Replaces the date-and-time clock; an empty function restores the real one.
void setDateTimeClockForTesting(std::function<QDateTime()> clock);
