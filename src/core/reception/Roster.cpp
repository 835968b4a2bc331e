// SPDX-License-Identifier: MIT
#include "reception/Roster.h"

#include "protocol/EventCutter.h"

namespace {
int lowBit(int i)
{
    return i & -i;
}
} // namespace

QStringList Roster::entries() const
{
    QStringList live;
    live.reserve(m_live);
    for (const Slot &slot : m_slots) {
        if (slot.live)
            live.append(slot.entry);
    }
    return live;
}

QString Roster::entryAt(int row) const
{
    if (row < 0 || row >= m_live)
        return {};
    // Descends the tree to the slot that holds the row-th live entry.
    int index = 0;
    int remaining = row + 1;
    int step = 1;
    while (step * 2 <= int(m_tree.size()) - 1)
        step *= 2;
    for (; step > 0; step /= 2) {
        if (index + step < int(m_tree.size()) && m_tree[index + step] < remaining) {
            index += step;
            remaining -= m_tree[index];
        }
    }
    return m_slots[index].entry;
}

bool Roster::append(const QString &entry)
{
    if (m_live >= kMaxEntries)
        return false;
    if (int(m_slots.size()) >= 2 * kMaxEntries)
        compact();
    const int slot = int(m_slots.size());
    QString key = trimSpaces(entry).toString();
    m_byKey[key].push_back(slot);
    m_slots.push_back({entry, std::move(key)});
    // The new tree node covers slots (i - lowBit(i), i]: the new one plus those before it.
    const int i = slot + 1;
    if (m_tree.empty())
        m_tree.push_back(0);
    m_tree.push_back(1 + liveBefore(slot) - liveBefore(i - lowBit(i)));
    ++m_live;
    return true;
}

std::optional<int> Roster::findFirst(const QString &key) const
{
    const auto found = m_byKey.constFind(key);
    if (found == m_byKey.cend())
        return std::nullopt;
    return liveBefore(found->front());
}

std::optional<int> Roster::removeFirst(const QString &key)
{
    const auto found = m_byKey.find(key);
    if (found == m_byKey.end())
        return std::nullopt;
    const int slot = found->front();
    found->pop_front();
    if (found->empty())
        m_byKey.erase(found);
    const int row = liveBefore(slot);
    m_slots[slot].live = false;
    m_slots[slot].entry.clear();
    m_slots[slot].key.clear();
    addToTree(slot, -1);
    --m_live;
    return row;
}

void Roster::clear()
{
    m_slots.clear();
    m_tree.clear();
    m_byKey.clear();
    m_live = 0;
}

void Roster::addToTree(int slot, int delta)
{
    for (int i = slot + 1; i < int(m_tree.size()); i += lowBit(i))
        m_tree[i] += delta;
}

int Roster::liveBefore(int slot) const
{
    int sum = 0;
    for (int i = slot; i > 0; i -= lowBit(i))
        sum += m_tree[i];
    return sum;
}

void Roster::compact()
{
    const std::vector<Slot> previous = std::move(m_slots);
    clear();
    for (const Slot &slot : previous) {
        if (slot.live)
            append(slot.entry);
    }
}
