// SPDX-License-Identifier: MIT
#include "protocol/LineFramer.h"

#include <algorithm>

LineFramer::Result LineFramer::next(QByteArrayView &line)
{
    const char *data = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    if (m_afterCr && m_pos < size) {
        if (data[m_pos] == '\n')
            ++m_pos;
        m_afterCr = false;
    }

    const qsizetype end = std::find_if(data + m_pos, data + size, [](char c) { return c == '\r' || c == '\n'; }) - data;
    if (end == size) {
        if (m_discarding || size - m_pos > m_maxLineBytes) {
            m_discarding = true;
            m_buffer.clear();
        } else {
            m_buffer.remove(0, m_pos);
        }
        m_pos = 0;
        return Result::NeedMore;
    }

    const qsizetype start = m_pos;
    m_afterCr = data[end] == '\r';
    m_pos = end + 1;
    if (m_discarding || end - start > m_maxLineBytes) {
        m_discarding = false;
        line = {};
        return Result::Overlong;
    }
    line = QByteArrayView(data + start, end - start);
    return Result::Line;
}

void LineFramer::feed(QByteArrayView bytes, const LineSink &onLine)
{
    append(bytes);
    QByteArrayView line;
    for (Result result; (result = next(line)) != Result::NeedMore;) {
        if (result == Result::Line)
            onLine(line);
    }
}

void LineFramer::reset()
{
    m_buffer = QByteArray();
    m_pos = 0;
    m_afterCr = false;
    m_discarding = false;
}
