// SPDX-License-Identifier: MIT
#pragma once

#include "reception/Roster.h"

#include <QAbstractListModel>

// The user list as a model: the list view and the name completer read it.
// Rows are the roster's entries in the order they came; the display role
// shows each by the name rules, EntryRole gives it as received (the name and
// its trailing space), which is what the roster commands send.
class RosterModel : public QAbstractListModel
{
    Q_OBJECT

public:
    static constexpr int EntryRole = Qt::UserRole;
    static constexpr int kMaxEntries = Roster::kMaxEntries;

    explicit RosterModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    int count() const { return m_roster.count(); }
    QString entryAt(int row) const { return m_roster.entryAt(row); }
    QStringList entries() const { return m_roster.entries(); }
    // The entries as the list shows them.
    QStringList shownEntries() const;

    // False, and nothing changes, when the list is full.
    bool append(const QString &entry);
    // Removes the first entry whose trimmed text equals key; false when there is none.
    bool removeFirst(const QString &key);
    void clear();

private:
    Roster m_roster;
};
