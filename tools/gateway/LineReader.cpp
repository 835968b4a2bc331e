// SPDX-License-Identifier: MIT
#include "LineReader.h"

LineReader::Result LineReader::next(QByteArray &line)
{
    const qsizetype size = m_buffer.size();
    if (m_swallowLf && m_pos < size) {
        if (m_buffer[m_pos] == '\n')
            ++m_pos;
        m_swallowLf = false;
    }

    qsizetype end = m_pos;
    while (end < size && m_buffer[end] != '\r' && m_buffer[end] != '\n')
        ++end;

    if (end == size) {
        if (m_discarding || size - m_pos > m_maxLength) {
            m_discarding = true;
            m_buffer.clear();
        } else {
            m_buffer.remove(0, m_pos);
        }
        m_pos = 0;
        return Result::NeedMore;
    }

    const qsizetype start = m_pos;
    m_swallowLf = m_buffer[end] == '\r';
    m_pos = end + 1;
    if (m_discarding || end - start > m_maxLength) {
        m_discarding = false;
        line.clear();
        return Result::Overlong;
    }
    line = m_buffer.sliced(start, end - start);
    return Result::Line;
}
