// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The count of seconds stops here instead of overflowing.
inline constexpr qint16 kIdleCountLimit = 32767;

// "/me is using Vesk Chat v 1.0 - " + message.
QString idleAnnouncement(const QString &message);

// The period typed into the Idle box: an optional sign, decimal digits, and
// optionally a "." and more digits; blanks around it are ignored. A fraction
// rounds to the nearest whole number, a half to the even neighbour. Nothing
// when the text is empty, is not such a number, or rounds to a value outside
// -32768..32767.
std::optional<qint16> parseIdleSeconds(const QString &answer);

struct IdleTick {
    qint16 count = 0;      // the count after this tick
    bool announce = false; // the count reached the period: send the announcement
    bool operator==(const IdleTick &) const = default;
};

// One second of the announcer: the count rises by one and, when it then equals
// the period exactly, goes back to 0 with an announcement due. A count held at
// kIdleCountLimit no longer rises and so never equals the period again.
IdleTick idleTick(qint16 count, qint16 period);
