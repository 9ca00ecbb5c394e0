#include "ui/FolderFilter.h"

#include <algorithm>

void CFolderFilter::SetTree(CFolderNode* pRoot)
{
    m_pRoot = pRoot;
    m_albumPaths.clear();
    m_order.Clear();
    Filter();
}

QStringList CFolderFilter::Words(const QString& text)
{
    // A "/" typed parts folders, as in a path; other marks of punctuation count for nothing.
    return Fold(QString(text).replace(u'/', u' ')).simplified().split(u' ', Qt::SkipEmptyParts);
}

void CFolderFilter::Apply(const QStringList& words, EQuickView view)
{
    m_words = words;
    m_view = view;
    Filter();
}

int CFolderFilter::ShownChildCount(const CFolderNode& folder) const
{
    const auto shown = m_shownChildren.find(&folder);
    return shown == m_shownChildren.end() ? 0 : static_cast<int>(shown->second.size());
}

CFolderNode* CFolderFilter::Child(const CFolderNode& node, int row) const
{
    return IsActive() ? m_shownChildren.at(&node)[row] : m_order.Children(node)[row];
}

// The children shown keep the order of all, so a node is found among them by its rank among all.
int CFolderFilter::Row(const CFolderNode& node) const
{
    if (!IsActive() || node.m_pParent == nullptr) {
        return m_order.Rank(node);
    }
    const auto shown = m_shownChildren.find(node.m_pParent);
    if (shown == m_shownChildren.end()) {
        return -1;
    }
    const std::vector<CFolderNode*>& siblings = shown->second;
    const auto at =
        std::lower_bound(siblings.begin(), siblings.end(), m_order.Rank(node),
                         [this](const CFolderNode* sibling, int rank) { return m_order.Rank(*sibling) < rank; });
    return at != siblings.end() && *at == &node ? static_cast<int>(at - siblings.begin()) : -1;
}

std::vector<CFolderNode*> CFolderFilter::AlbumsShown(CFolderNode& node) const
{
    std::vector<CFolderNode*> albums;
    const auto collect = [&](const auto& self, CFolderNode& below) -> void {
        if (below.IsAlbum()) {
            albums.push_back(&below);
        }
        for (int row = 0, count = ChildCount(below); row < count; ++row) {
            self(self, *Child(below, row));
        }
    };
    collect(collect, node);
    return albums;
}

QString CFolderFilter::Fold(const QString& text)
{
    // Letters with a stroke, and ligatures, are no letters with marks to Unicode but are typed as if they were.
    static const std::pair<QChar, QString> kPlainLetters[] = {{u'ø', "o"},  {u'ł', "l"},  {u'đ', "d"},
                                                              {u'ß', "ss"}, {u'æ', "ae"}, {u'œ', "oe"}};
    const QString decomposed = text.normalized(QString::NormalizationForm_KD).toCaseFolded();
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        const auto plain = c.unicode() < 0x80 ? std::end(kPlainLetters)
                                              : std::find_if(std::begin(kPlainLetters), std::end(kPlainLetters),
                                                             [c](const auto& letter) { return letter.first == c; });
        if (plain != std::end(kPlainLetters)) {
            folded += plain->second;
        } else if (!c.isMark() && !c.isPunct()) { // "rem" finds "R.E.M.", "acdc" finds "AC-DC"
            folded += c;
        }
    }
    return folded;
}

void CFolderFilter::Filter()
{
    m_shownChildren.clear();
    m_nAlbumsShown = 0;
    if (!IsActive() || m_pRoot == nullptr) {
        return;
    }
    if (m_albumPaths.empty()) {
        FoldPaths(*m_pRoot, {});
    }
    m_shownChildren.try_emplace(m_pRoot);
    for (const auto& [album, path] : m_albumPaths) {
        if (Takes(*album) &&
            std::all_of(m_words.begin(), m_words.end(), [&](const QString& word) { return path.contains(word); })) {
            Show(album);
            ++m_nAlbumsShown;
        }
    }
    OrderShownChildren();
}

void CFolderFilter::OrderShownChildren()
{
    std::vector<std::pair<int, CFolderNode*>> ranked;
    for (auto& [folder, children] : m_shownChildren) {
        ranked.clear();
        for (CFolderNode* child : children) {
            ranked.emplace_back(m_order.Rank(*child), child);
        }
        std::sort(ranked.begin(), ranked.end());
        std::transform(ranked.begin(), ranked.end(), children.begin(), [](const auto& entry) { return entry.second; });
    }
}

bool CFolderFilter::Takes(const CFolderNode& album) const
{
    switch (m_view) {
    case EQuickView::Changes:
        // A changed album kept as the player has it too: the user may yet have it replaced.
        return album.IsAlbumToCopy() || album.IsAlbumToDelete() || album.m_bChanged;
    case EQuickView::PlayerOnly:
        return album.m_names[SIDE_COMPUTER].empty();
    case EQuickView::All:
        break;
    }
    return true;
}

// Albums come in tree order, so each node joins its parent's children shown in the tree's order.
void CFolderFilter::Show(CFolderNode* node)
{
    CFolderNode* parent = node->m_pParent;
    if (parent == nullptr) {
        return;
    }
    const auto [entry, added] = m_shownChildren.try_emplace(parent);
    std::vector<CFolderNode*>& siblings = entry->second; // a reference outlives the map's growth, an iterator not
    if (added) {
        Show(parent);
    }
    siblings.push_back(node);
}

void CFolderFilter::FoldPaths(CFolderNode& node, const QString& path)
{
    if (node.IsAlbum()) {
        m_albumPaths.emplace_back(&node, path);
        return;
    }
    for (const auto& child : node.m_children) {
        FoldPaths(*child, path + u'/' + Fold(QString::fromStdU16String(child->GetKeyName())));
    }
}
