// SPDX-License-Identifier: MIT
#include "reception/Roster.h"

#include "reception/EventLine.h"

bool Roster::append(const QString &entry)
{
    if (count() >= kMaxEntries)
        return false;
    QString key = trimSpaces(entry).toString();
    ++m_count[key];
    m_entries.append(entry);
    m_keys.append(std::move(key));
    return true;
}

std::optional<int> Roster::removeFirst(const QString &key)
{
    const auto found = m_count.find(key);
    if (found == m_count.end())
        return std::nullopt;
    if (--*found == 0)
        m_count.erase(found);
    const int row = int(m_keys.indexOf(key));
    m_keys.removeAt(row);
    m_entries.removeAt(row);
    return row;
}

void Roster::clear()
{
    m_entries.clear();
    m_keys.clear();
    m_count.clear();
}
