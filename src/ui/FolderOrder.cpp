#include "ui/FolderOrder.h"

#include <QLocale>

#include <algorithm>
#include <utility>

namespace {

// Without a language (the C and POSIX locales) Qt collates by code points,
// which puts "Édith Piaf" after "Wu-Tang Clan" and "711" before "9": the
// language-neutral order of English is the one a reader expects.
QLocale CollationLocale()
{
    const QLocale system;
    return system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system;
}

} // namespace

CFolderOrder::CFolderOrder() : m_collator(CollationLocale())
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

int CFolderOrder::Rank(const CFolderNode& node) const
{
    if (node.m_pParent == nullptr) {
        return 0;
    }
    auto rank = m_ranks.find(&node);
    if (rank == m_ranks.end()) {
        Children(*node.m_pParent);
        rank = m_ranks.find(&node);
    }
    return rank->second;
}

const std::vector<CFolderNode*>& CFolderOrder::Children(const CFolderNode& folder) const
{
    const auto [entry, added] = m_orders.try_emplace(&folder);
    std::vector<CFolderNode*>& order = entry->second;
    if (!added) {
        return order;
    }
    // A key a name, made once: comparing keys is much cheaper than collating two names.
    const std::size_t count = folder.m_children.size();
    std::vector<std::pair<QCollatorSortKey, int>> keys;
    keys.reserve(count);
    for (std::size_t index = 0; index < count; ++index) {
        keys.emplace_back(m_collator.sortKey(QString::fromStdU16String(folder.m_children[index]->GetKeyName())),
                          static_cast<int>(index));
    }
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        const int sign = a.first.compare(b.first);
        return sign != 0 ? sign < 0 : a.second < b.second;
    });
    order.reserve(count);
    m_ranks.reserve(m_ranks.size() + count);
    for (const auto& [key, index] : keys) {
        m_ranks.emplace(folder.m_children[static_cast<std::size_t>(index)].get(), static_cast<int>(order.size()));
        order.push_back(folder.m_children[static_cast<std::size_t>(index)].get());
    }
    return order;
}
