// SPDX-License-Identifier: MIT
#include "outgoing/IdleTick.h"

namespace {
constexpr char kIdlePrefix[] = "/me is using Vesk Chat v 1.0 - ";

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool allDigits(QStringView text)
{
    for (QChar c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

// Rounding decides from the first dropped digit, and the rest only matters on
// an exact half.
bool roundsUp(qint64 whole, QStringView fraction)
{
    if (fraction.isEmpty() || fraction.front() < QLatin1Char('5'))
        return false;
    if (fraction.front() > QLatin1Char('5'))
        return true;
    for (QChar c : fraction.mid(1)) {
        if (c != QLatin1Char('0'))
            return true;
    }
    return whole % 2 != 0;
}
} // namespace

QString idleAnnouncement(const QString &message)
{
    return QLatin1String(kIdlePrefix) + message;
}

std::optional<qint16> parseIdleSeconds(const QString &answer)
{
    QStringView number = QStringView(answer).trimmed();
    bool negative = false;
    if (!number.isEmpty() && (number.front() == QLatin1Char('-') || number.front() == QLatin1Char('+'))) {
        negative = number.front() == QLatin1Char('-');
        number = number.mid(1);
    }
    const qsizetype point = number.indexOf(QLatin1Char('.'));
    QStringView whole = point < 0 ? number : number.left(point);
    const QStringView fraction = point < 0 ? QStringView() : number.mid(point + 1);
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;
    if (!allDigits(whole) || !allDigits(fraction))
        return std::nullopt;

    while (whole.size() > 1 && whole.front() == QLatin1Char('0'))
        whole = whole.mid(1);
    // Six or more significant digits are out of range whatever the rounding.
    if (whole.size() > 5)
        return std::nullopt;
    qint64 magnitude = whole.isEmpty() ? 0 : whole.toLongLong();
    if (roundsUp(magnitude, fraction))
        ++magnitude;
    const qint64 value = negative ? -magnitude : magnitude;
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return static_cast<qint16>(value);
}

IdleTick idleTick(qint16 count, qint16 period)
{
    if (count >= kIdleCountLimit)
        return {count, false};
    const qint16 next = qint16(count + 1);
    if (next == period)
        return {0, true};
    return {next, false};
}
