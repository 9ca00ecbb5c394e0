#include "model/FolderNode.h"

#include "platform/FileSystem.h"
#include "text/Text.h"
#include "text/Utf.h"

#include <algorithm>
#include <iterator>
#include <string_view>

std::u16string PlayerName(const std::u16string& name)
{
    std::u16string result;
    result.reserve(name.size());
    for (std::size_t pos = 0; pos < name.size();) {
        const std::size_t start = pos;
        char32_t codePoint = 0;
        if (!DecodeUtf16(name, pos, codePoint)) {
            ++pos; // a byte that is not UTF-8 holds a lone surrogate
            codePoint = u'_';
        } else if (codePoint < 0x20 || std::u16string_view(u"\"*:<>?\\|").find(static_cast<char16_t>(codePoint)) !=
                                           std::u16string_view::npos) {
            codePoint = u'_';
        } else {
            result.append(name, start, pos - start);
            continue;
        }
        result.push_back(static_cast<char16_t>(codePoint));
    }
    for (auto unit = result.rbegin(); unit != result.rend() && (*unit == u'.' || *unit == u' '); ++unit) {
        *unit = u'_';
    }
    return result;
}

CAlbumManifest ManifestFor(const CFolderNode& album, const IPlayerFiles& writer)
{
    CAlbumManifest manifest{writer.WriterId(), {}};
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        manifest.m_files.push_back({writer.PlayerFileName(album, entry), entry.m_name, entry.m_size, entry.m_modified});
    }
    return manifest;
}

bool IsStagingFolder(const std::u16string& name)
{
    const std::u16string_view staging(STAGING_FOLDER);
    return name.starts_with(staging) && (name.size() == staging.size() || name[staging.size()] == u'-');
}

bool IsLeftOutFolder(const std::u16string& name)
{
    static const char16_t* const kNames[] = {u"System Volume Information", u"$RECYCLE.BIN", u"RECYCLER", u"LOST.DIR",
                                             u"lost+found"};
    // A dot before a letter, "_" or "@" marks another system's folder; albums
    // begin with dots too ("...And Justice for All", ".5: The Gray Chapter").
    const auto hiddenMark = [](char16_t unit) {
        return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') || unit == u'_' || unit == u'@';
    };
    return (name.size() > 1 && name[0] == u'.' && hiddenMark(name[1])) ||
           std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const char16_t* other) { return CompareNames(name, other) == 0; });
}

int CompareNames(const std::u16string& a, const std::u16string& b)
{
    // Past its end a string reads as the terminating 0.
    for (std::size_t i = 0;; ++i) {
        const int unitA = i < a.size() ? FoldAsciiCase(a[i]) : 0;
        const int unitB = i < b.size() ? FoldAsciiCase(b[i]) : 0;
        if (unitA != unitB || unitA == 0) {
            return unitA - unitB;
        }
    }
}

bool NameOrderLess(const std::u16string& a, const std::u16string& b)
{
    const int order = CompareNames(a, b);
    return order < 0 || (order == 0 && a < b);
}

std::u16string CFolderNode::GetPath(int rootSide, int nameSide, bool bLabelRoot) const
{
    if (m_pParent == nullptr) {
        return bLabelRoot ? std::u16string(ROOT_LABELS[rootSide]) : m_names[rootSide];
    }
    std::u16string path = m_pParent->GetPath(rootSide, nameSide, bLabelRoot);
    path += PATH_SEPARATOR;
    path += m_names[nameSide];
    return path;
}

std::u16string CFolderNode::GetRelativePath(int side) const
{
    if (m_pParent == nullptr) {
        return {};
    }
    if (m_pParent->m_pParent == nullptr) {
        return m_names[side];
    }
    std::u16string path = m_pParent->GetRelativePath(side);
    path += PATH_SEPARATOR;
    path += m_names[side];
    return path;
}

std::u16string CFolderNode::GetRootFolder(int side) const
{
    const CFolderNode* root = this;
    while (root->m_pParent != nullptr) {
        root = root->m_pParent;
    }
    return root->m_names[side];
}

const std::u16string& CFolderNode::GetKeyName() const
{
    return m_names[SIDE_COMPUTER].empty() ? m_names[SIDE_PLAYER] : m_names[SIDE_COMPUTER];
}

std::size_t CFolderNode::IndexInParent() const
{
    if (m_pParent == nullptr) {
        return 0;
    }
    const auto& siblings = m_pParent->m_children;
    const auto at = std::lower_bound(
        siblings.begin(), siblings.end(), GetKeyName(),
        [](const auto& sibling, const std::u16string& key) { return NameOrderLess(sibling->GetKeyName(), key); });
    return static_cast<std::size_t>(at - siblings.begin());
}

std::string CFolderNode::GetDisplayName() const
{
    return m_pParent == nullptr ? "Root" : ToLogText(GetKeyName());
}

std::u16string CFolderNode::GetPlayerRelativePath() const
{
    if (m_pParent == nullptr) {
        return {};
    }
    std::u16string path = m_pParent->GetPlayerRelativePath();
    if (!path.empty()) {
        path += PATH_SEPARATOR;
    }
    path += GetPlayerName();
    return path;
}

std::u16string CFolderNode::GetPlayerName() const
{
    return m_names[SIDE_PLAYER].empty() ? PlayerName(m_names[SIDE_COMPUTER]) : m_names[SIDE_PLAYER];
}
