#include "SyntheticTree.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::u16string Numbered(const char16_t* kind, int index)
{
    const std::string digits = std::to_string(index);
    return kind + std::u16string(digits.begin(), digits.end());
}

// Adds the numbered sub-folders to a node as a scan does, one listing a side:
// each on the computer, and on the player every one or every other one.
void AddNumbered(CFolderNode& node, const char16_t* kind, int count, int playerStep)
{
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        std::vector<std::u16string> names;
        for (int index = 0; index < count; index += side == SIDE_COMPUTER ? 1 : playerStep) {
            names.push_back(Numbered(kind, index));
        }
        std::sort(names.begin(), names.end(), NameOrderLess);
        node.AddChildren(side, names);
    }
}

void AddFiles(CFolderNode& album, int filesPerAlbum)
{
    for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
        for (int file = 0; !album.m_names[side].empty() && file < filesPerAlbum; ++file) {
            album.m_files[side].push_back({Numbered(u"Track ", file), 5000000u + file});
        }
    }
}

} // namespace

std::unique_ptr<CFolderNode> BuildTree(int artists, int albumsPerArtist, int filesPerAlbum)
{
    auto root = std::make_unique<CFolderNode>();
    root->SetName(SIDE_COMPUTER, u"/computer");
    root->SetName(SIDE_PLAYER, u"/player");
    const bool flat = albumsPerArtist == 0;
    AddNumbered(*root, flat ? u"Album " : u"Artist ", artists, flat ? 2 : 1);
    for (const auto& artist : root->m_children) {
        AddNumbered(*artist, u"Album ", albumsPerArtist, 2);
        for (const auto& album : artist->m_children) {
            AddFiles(*album, filesPerAlbum);
        }
        if (flat) {
            AddFiles(*artist, filesPerAlbum);
        }
    }
    root->FinishScan();
    return root;
}
