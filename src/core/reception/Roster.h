// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

// The entries of the user list in the order they came, duplicates kept. An
// entry is the name and the space after it, as the user event line gives it;
// a leave finds its entry by the name with spaces trimmed, case-sensitively.
//
// A flood of joins and leaves in a full channel must not cost a scan of the
// list per leave: entries keep the slot they were appended in, a hash finds a
// name's slots, and a Fenwick tree over the slots gives an entry's row (and a
// row's entry) in logarithmic time. Slots of removed entries are reclaimed
// once they outnumber the live ones.
class Roster
{
public:
    // A hostile server cannot grow the list past this.
    static constexpr int kMaxEntries = 10000;

    QStringList entries() const;
    QString entryAt(int row) const;
    int count() const { return m_live; }

    // False, and nothing changes, when the list is full.
    bool append(const QString &entry);
    // The row of the first entry whose trimmed text equals key; nothing when there is none.
    std::optional<int> findFirst(const QString &key) const;
    // Removes the first entry whose trimmed text equals key and gives its
    // row; nothing when there is none.
    std::optional<int> removeFirst(const QString &key);
    void clear();

private:
    struct Slot {
        QString entry;
        QString key; // the entry trimmed of spaces
        bool live = true;
    };
    void addToTree(int slot, int delta);
    int liveBefore(int slot) const; // live slots below slot
    void compact();

    std::vector<Slot> m_slots;
    std::vector<int> m_tree; // Fenwick tree of live slots, 1-based
    QHash<QString, std::deque<int>> m_byKey; // each key's live slots in order
    int m_live = 0;
};
