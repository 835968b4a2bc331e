// SPDX-License-Identifier: MIT
#include "reception/LineFramer.h"

#include <algorithm>

namespace {

qsizetype findLineEnd(const char *data, qsizetype from, qsizetype size)
{
    const char *end = std::find_if(data + from, data + size, [](char c) { return c == '\r' || c == '\n'; });
    return end - data;
}

} // namespace

void LineFramer::feed(QByteArrayView bytes, const LineSink &onLine)
{
    const char *data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype from = 0;
    if (m_afterCr && size > 0) {
        m_afterCr = false;
        if (data[0] == '\n')
            from = 1;
    }

    while (from < size) {
        qsizetype end = findLineEnd(data, from, size);
        const qsizetype length = end - from;
        if (end == size) {
            if (!m_discarding && m_partial.size() + length <= kMaxLineBytes) {
                m_partial.append(data + from, length);
            } else {
                m_partial = QByteArray();
                m_discarding = true;
            }
            return;
        }

        if (!m_discarding) {
            if (m_partial.isEmpty()) {
                if (length <= kMaxLineBytes)
                    onLine(QByteArrayView(data + from, length));
            } else if (m_partial.size() + length <= kMaxLineBytes) {
                m_partial.append(data + from, length);
                onLine(m_partial);
            }
        }
        m_partial.resize(0);
        m_discarding = false;

        if (data[end] == '\r') {
            if (end + 1 == size)
                m_afterCr = true;
            else if (data[end + 1] == '\n')
                ++end;
        }
        from = end + 1;
    }
}

void LineFramer::reset()
{
    m_partial = QByteArray();
    m_afterCr = false;
    m_discarding = false;
}
