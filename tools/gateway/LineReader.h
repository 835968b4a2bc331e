// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Cuts a byte stream into lines. "\r\n", "\n" and a lone "\r" all end a line;
// a "\n" right after a "\r" is swallowed even when it arrives in a later chunk.
// A line longer than maxLength is dropped whole and reported as Overlong, so
// at most maxLength bytes (plus the last appended chunk) are ever held.
class LineReader
{
public:
    static constexpr qsizetype kDefaultMaxLength = 64 * 1024;

    enum class Result { NeedMore, Line, Overlong };

    explicit LineReader(qsizetype maxLength = kDefaultMaxLength) : m_maxLength(maxLength) {}

    void append(QByteArrayView data) { m_buffer.append(data); }
    Result next(QByteArray &line);

private:
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qsizetype m_maxLength;
    bool m_swallowLf = false;
    bool m_discarding = false;
};
