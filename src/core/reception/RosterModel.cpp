// SPDX-License-Identifier: MIT
#include "reception/RosterModel.h"

#include "reception/DisplayText.h"

RosterModel::RosterModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int RosterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_roster.count();
}

QVariant RosterModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_roster.count())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return displayName(m_roster.entryAt(index.row()));
    case EntryRole:
        return m_roster.entryAt(index.row());
    default:
        return {};
    }
}

QStringList RosterModel::shownEntries() const
{
    QStringList shown = m_roster.entries();
    for (QString &entry : shown)
        entry = displayName(entry);
    return shown;
}

bool RosterModel::append(const QString &entry)
{
    if (m_roster.count() >= kMaxEntries)
        return false;
    const int row = m_roster.count();
    beginInsertRows({}, row, row);
    m_roster.append(entry);
    endInsertRows();
    return true;
}

bool RosterModel::removeFirst(const QString &key)
{
    const std::optional<int> row = m_roster.findFirst(key);
    if (!row)
        return false;
    beginRemoveRows({}, *row, *row);
    m_roster.removeFirst(key);
    endRemoveRows();
    return true;
}

void RosterModel::clear()
{
    if (m_roster.count() == 0) {
        m_roster.clear();
        return;
    }
    beginResetModel();
    m_roster.clear();
    endResetModel();
}
