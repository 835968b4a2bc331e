// SPDX-License-Identifier: MIT
#include "ui/RosterIndex.h"

#include "reception/DisplayText.h"
#include "reception/EventLine.h"

#include <QListWidget>

RosterIndex::RosterIndex(QListWidget *list) : QObject(list), m_list(list)
{
    const QAbstractItemModel *model = list->model();
    connect(model, &QAbstractItemModel::rowsInserted, this, &RosterIndex::markStale);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &RosterIndex::markStale);
    connect(model, &QAbstractItemModel::rowsMoved, this, &RosterIndex::markStale);
    connect(model, &QAbstractItemModel::modelReset, this, &RosterIndex::markStale);
    connect(model, &QAbstractItemModel::layoutChanged, this, &RosterIndex::markStale);
    connect(model, &QAbstractItemModel::dataChanged, this, &RosterIndex::markStale);
}

void RosterIndex::append(const QString &entry)
{
    rebuildIfStale();
    m_editing = true;
    auto *item = new QListWidgetItem(displayName(entry), m_list);
    item->setData(kRosterEntryRole, entry);
    m_editing = false;
    m_byName[trimSpaces(entry).toString()].push_back(item);
}

bool RosterIndex::removeFirst(const QString &key)
{
    rebuildIfStale();
    const auto found = m_byName.find(key);
    if (found == m_byName.end())
        return false;
    QListWidgetItem *item = found->front();
    found->pop_front();
    if (found->empty())
        m_byName.erase(found);
    m_editing = true;
    delete item; // takes it out of the list
    m_editing = false;
    return true;
}

void RosterIndex::clear()
{
    m_editing = true;
    m_list->clear();
    m_editing = false;
    m_byName.clear();
    m_stale = false;
}

void RosterIndex::markStale()
{
    if (!m_editing)
        m_stale = true;
}

void RosterIndex::rebuildIfStale()
{
    if (!m_stale)
        return;
    m_byName.clear();
    for (int row = 0; row < m_list->count(); ++row) {
        QListWidgetItem *item = m_list->item(row);
        m_byName[trimSpaces(rosterEntry(item)).toString()].push_back(item);
    }
    m_stale = false;
}

QString rosterEntry(const QListWidgetItem *item)
{
    const QVariant entry = item->data(kRosterEntryRole);
    return entry.isValid() ? entry.toString() : item->text();
}
