#include "support/TreeDump.h"

#include "text/Text.h"

namespace {

void DumpNode(const CFolderNode& node, int depth, std::string& out)
{
    static const char kPresence[] = {'C', 'P', 'M'};
    out.append(2 * depth, ' ');
    if (node.m_pParent == nullptr) {
        out += "Root";
    } else {
        out += ToLogText(node.m_names[SIDE_COMPUTER]) + "|" + ToLogText(node.m_names[SIDE_PLAYER]);
    }
    out += std::string(" ") + kPresence[node.m_presence] + " sel=" + std::to_string(node.m_selected) +
           " on=" + std::to_string(node.m_onPlayer) + " albums=" + std::to_string(node.m_albums);
    if (node.m_sizeDelta != 0) {
        out += " delta=" + std::to_string(node.m_sizeDelta);
    }
    out += "\n";
    for (const auto& child : node.m_children) {
        DumpNode(*child, depth + 1, out);
    }
}

} // namespace

std::string DumpTree(const CFolderNode& root)
{
    std::string out;
    DumpNode(root, 0, out);
    return out;
}

CFolderNode* FindNode(CFolderNode& root, const std::u16string& relative)
{
    CFolderNode* node = &root;
    std::size_t start = 0;
    while (node != nullptr && start < relative.size()) {
        const std::size_t end = std::min(relative.find(u'/', start), relative.size());
        const std::u16string name = relative.substr(start, end - start);
        CFolderNode* next = nullptr;
        for (const auto& child : node->m_children) {
            if (child->GetKeyName() == name) {
                next = child.get();
            }
        }
        node = next;
        start = end + 1;
    }
    return node;
}
