#include "SyntheticTree.h"

#include <string>

namespace {

std::u16string Numbered(const char16_t* kind, int index)
{
    const std::string digits = std::to_string(index);
    return kind + std::u16string(digits.begin(), digits.end());
}

} // namespace

std::unique_ptr<CFolderNode> BuildTree(int artists, int albumsPerArtist, int filesPerAlbum)
{
    auto root = std::make_unique<CFolderNode>();
    root->SetName(SIDE_COMPUTER, u"/computer");
    root->SetName(SIDE_PLAYER, u"/player");
    for (int artist = 0; artist < artists; ++artist) {
        const std::u16string artistName = Numbered(u"Artist ", artist);
        root->AddChild(SIDE_COMPUTER, artistName);
        root->AddChild(SIDE_PLAYER, artistName);
    }
    for (const auto& artist : root->m_children) {
        for (int album = 0; album < albumsPerArtist; ++album) {
            artist->AddChild(SIDE_COMPUTER, Numbered(u"Album ", album));
            if (album % 2 == 0) {
                artist->AddChild(SIDE_PLAYER, Numbered(u"Album ", album));
            }
        }
        for (const auto& album : artist->m_children) {
            for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
                for (int file = 0; !album->m_names[side].empty() && file < filesPerAlbum; ++file) {
                    album->m_files[side].push_back({Numbered(u"Track ", file), 5000000u + file});
                }
            }
        }
    }
    root->ComputePresence();
    root->ComputeInitialSelection();
    root->ComputeAlbumCounts();
    return root;
}
