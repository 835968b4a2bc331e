// SPDX-License-Identifier: MIT
#include "outgoing/InputHistory.h"

void InputHistory::add(const QString &line)
{
    if (!line.isEmpty() && (m_lines.isEmpty() || m_lines.last() != line)) {
        m_lines.append(line);
        if (m_lines.size() > kLimit)
            m_lines.removeFirst();
    }
    m_pos = m_lines.size();
    m_draft.clear();
}

std::optional<QString> InputHistory::up(const QString &current)
{
    if (m_pos == 0)
        return std::nullopt;
    if (m_pos == m_lines.size())
        m_draft = current;
    return m_lines.at(--m_pos);
}

std::optional<QString> InputHistory::down(const QString &)
{
    if (m_pos >= m_lines.size())
        return std::nullopt;
    ++m_pos;
    return m_pos == m_lines.size() ? m_draft : m_lines.at(m_pos);
}
