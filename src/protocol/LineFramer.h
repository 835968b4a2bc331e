// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

// Cuts a byte stream into lines, for the client's link and the gateway's
// connections alike. A line ends at CR LF, at a lone CR or at a lone LF; a CR
// that ends one chunk and an LF that starts the next are one line end. An
// unfinished last line is kept until a later chunk ends it. A line longer than
// the limit is dropped whole, however it was cut into chunks, so the framer
// holds at most the limit plus the last chunk appended.
//
// Two ways to read it: feed() hands every complete line of a chunk to a sink
// at once and drops overlong lines silently (the client); append() and next()
// give one line per call, so the reader can stop between lines and leave the
// rest buffered, and report each dropped line (the gateway, which paces its
// clients and answers an overlong line).
class LineFramer
{
public:
    static constexpr qsizetype kMaxLineBytes = 64 * 1024;

    enum class Result { NeedMore, Line, Overlong };

    // Called once per complete line, without its line end. The view is only
    // valid during the call.
    using LineSink = std::function<void(QByteArrayView line)>;

    explicit LineFramer(qsizetype maxLineBytes = kMaxLineBytes) : m_maxLineBytes(maxLineBytes) {}

    void append(QByteArrayView bytes) { m_buffer.append(bytes); }
    // The next complete line, without its line end. The view stays valid until
    // the framer is next used.
    Result next(QByteArrayView &line);

    void feed(QByteArrayView bytes, const LineSink &onLine);

    // Bytes appended but not yet handed out: the unfinished line after feed().
    qsizetype pendingBytes() const { return m_buffer.size() - m_pos; }
    // Forgets everything held, for a new connection.
    void reset();

private:
    QByteArray m_buffer;
    qsizetype m_pos = 0; // where the next line starts in m_buffer
    qsizetype m_maxLineBytes;
    bool m_afterCr = false;    // the last line ended at a CR: an LF next belongs to it
    bool m_discarding = false; // the current line grew too long; skip to its line end
};
