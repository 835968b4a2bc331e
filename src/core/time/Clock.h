// SPDX-License-Identifier: MIT
#pragma once

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
