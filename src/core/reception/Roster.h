// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The entries of the user list in the order they came, duplicates kept. An
// entry is the name and the space after it, as the user event line gives it;
// a leave finds its entry by the name with spaces trimmed, case-sensitively.
class Roster
{
public:
    // A hostile server cannot grow the list past this.
    static constexpr int kMaxEntries = 10000;

    const QStringList &entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }

    // False, and nothing changes, when the list is full.
    bool append(const QString &entry);
    // Removes the first entry whose trimmed text equals key and gives its
    // row; nothing when there is none.
    std::optional<int> removeFirst(const QString &key);
    void clear();

private:
    QStringList m_entries;
    QStringList m_keys;          // each entry's trimmed text, row by row
    QHash<QString, int> m_count; // how many entries have each key, so a miss costs no scan
};
