#include "model/FolderNode.h"

#include "text/Unicode.h"
#include "text/Utf.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <utility>

// One merge walk over the children and the names, both in folded name order.
// Names that are equal with case folded form a group with the children of
// that key: within it a name joins the child whose key is the same text, else
// the first child without a name on this side, else a new child. Two names of
// one side are therefore never one node.
void CFolderNode::AddChildren(int side, std::vector<std::u16string>& names)
{
    std::vector<std::unique_ptr<CFolderNode>> merged;
    merged.reserve(m_children.size() + names.size());
    auto child = m_children.begin();
    auto name = names.begin();
    while (child != m_children.end() || name != names.end()) {
        const bool childFirst =
            name == names.end() || (child != m_children.end() && CompareNames((*child)->GetKeyName(), *name) <= 0);
        const std::u16string& key = childFirst ? (*child)->GetKeyName() : *name;
        const std::size_t groupStart = merged.size();
        const auto groupNames = name;
        while (name != names.end() && CompareNames(*name, key) == 0) {
            ++name;
        }
        for (; child != m_children.end() && CompareNames((*child)->GetKeyName(), key) == 0; ++child) {
            merged.push_back(std::move(*child));
        }
        MergeGroup(side, std::span(groupNames, name), merged, groupStart);
    }
    m_children = std::move(merged);
    PairOneSidedChildren();
}

namespace {

std::u16string FoldedName(std::u16string name)
{
    std::transform(name.begin(), name.end(), name.begin(), FoldAsciiCase);
    return name;
}

std::u16string FoldedPlayerName(const std::u16string& name)
{
    return FoldedName(PlayerName(name));
}

// "Beyonce" and a combining accent is "Beyoncé" written another way.
std::u16string FoldedComposedPlayerName(const std::u16string& name)
{
    return FoldedPlayerName(ToNfc(name));
}

} // namespace

// "What's Going On?" on the computer is "What's Going On_" on the player, and
// a name written decomposed on one side is the same name written composed on
// the other: a folder only the player has joins the first folder only the
// computer has whose player name is the same with case folded, else the first
// whose player name is that composed. It keeps the computer's name as its key,
// so the order stays.
void CFolderNode::PairOneSidedChildren()
{
    PairOneSidedChildren(FoldedPlayerName);
    PairOneSidedChildren(FoldedComposedPlayerName);
}

void CFolderNode::PairOneSidedChildren(std::u16string (*match)(const std::u16string&))
{
    const auto onlyOn = [](const CFolderNode& node, int side) {
        return !node.m_names[side].empty() && node.m_names[1 - side].empty();
    };
    const bool anyMapped = std::any_of(m_children.begin(), m_children.end(), [&](const auto& child) {
        const std::u16string& key = child->GetKeyName();
        return (onlyOn(*child, SIDE_COMPUTER) || onlyOn(*child, SIDE_PLAYER)) && match(key) != FoldedName(key);
    });
    if (!anyMapped) {
        return;
    }
    std::unordered_map<std::u16string, std::vector<CFolderNode*>> computerOnly;
    for (const auto& child : m_children) {
        if (onlyOn(*child, SIDE_COMPUTER)) {
            computerOnly[match(child->m_names[SIDE_COMPUTER])].push_back(child.get());
        }
    }
    for (const auto& child : m_children) {
        if (!onlyOn(*child, SIDE_PLAYER)) {
            continue;
        }
        const auto candidates = computerOnly.find(match(child->m_names[SIDE_PLAYER]));
        if (candidates == computerOnly.end()) {
            continue;
        }
        for (CFolderNode* candidate : candidates->second) {
            if (candidate->m_names[SIDE_PLAYER].empty()) {
                candidate->SetName(SIDE_PLAYER, std::exchange(child->m_names[SIDE_PLAYER], {}));
                break;
            }
        }
    }
    std::erase_if(m_children, [](const auto& child) { return child->GetKeyName().empty(); });
}

void CFolderNode::MergeGroup(int side, std::span<std::u16string> names,
                             std::vector<std::unique_ptr<CFolderNode>>& merged, std::size_t groupStart)
{
    const auto group = [&] { return std::span(merged).subspan(groupStart); };
    // A name taken by a child is left empty; no real name is.
    const auto take = [&](std::u16string& name, const auto& fits) {
        for (const auto& child : group()) {
            if (child->m_names[side].empty() && fits(*child)) {
                child->SetName(side, std::exchange(name, {}));
                return;
            }
        }
    };
    for (std::u16string& name : names) {
        take(name, [&](const CFolderNode& child) { return child.GetKeyName() == name; });
    }
    for (std::u16string& name : names) {
        if (!name.empty()) {
            take(name, [](const CFolderNode&) { return true; });
        }
        if (!name.empty()) {
            merged.push_back(std::make_unique<CFolderNode>(this));
            merged.back()->SetName(side, std::exchange(name, {}));
        }
    }
    std::sort(merged.begin() + static_cast<std::ptrdiff_t>(groupStart), merged.end(),
              [](const auto& a, const auto& b) { return NameOrderLess(a->GetKeyName(), b->GetKeyName()); });
}

void CFolderNode::AddChild(int side, const std::u16string& name)
{
    std::vector<std::u16string> names = {name};
    AddChildren(side, names);
}
