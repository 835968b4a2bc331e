// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

// Cuts the received byte stream into lines. A line ends at CR LF, at a lone
// CR or at a lone LF; a CR that ends one feed and an LF that starts the next
// are one line end. An unfinished last line is kept until a later feed ends
// it. A line longer than kMaxLineBytes is dropped whole, however it was cut
// into feeds, so the framer never holds more than that many bytes.
class LineFramer
{
public:
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    // Called once per complete line, without its line end. The view is only
    // valid during the call.
    using LineSink = std::function<void(QByteArrayView line)>;

    void feed(QByteArrayView bytes, const LineSink &onLine);
    // Bytes of the unfinished line held for the next feed.
    qsizetype pendingBytes() const { return m_partial.size(); }
    // Forgets the unfinished line, for a new connection.
    void reset();

private:
    QByteArray m_partial;
    bool m_afterCr = false;    // the last byte fed was a CR: an LF first in the next feed belongs to it
    bool m_discarding = false; // the current line grew too long; skip to its line end
};
