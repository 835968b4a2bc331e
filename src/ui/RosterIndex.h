// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <deque>

class QListWidget;
class QListWidgetItem;

// An item shows its entry by the name rules of DisplayText.h and keeps the
// entry as received under this role, which the roster actions send.
inline constexpr int kRosterEntryRole = Qt::UserRole;
// The entry an item stands for: as received, else (the placeholder) its text.
QString rosterEntry(const QListWidgetItem *item);

// The user list's entries by name (trimmed of spaces), so that a leave line
// finds its entry without reading every item of a large channel. It lives as
// a child of the list and rebuilds itself after any change made elsewhere
// (Connect emptying the list, say).
class RosterIndex : public QObject
{
public:
    explicit RosterIndex(QListWidget *list);

    void append(const QString &entry);
    // Removes the entry with the lowest row whose trimmed text equals key,
    // case-sensitively; false when there is none.
    bool removeFirst(const QString &key);
    void clear();

private:
    void markStale();
    void rebuildIfStale();

    QListWidget *m_list;
    QHash<QString, std::deque<QListWidgetItem *>> m_byName; // each name's items in row order
    bool m_stale = true;
    bool m_editing = false; // the change being signalled is this index's own
};
