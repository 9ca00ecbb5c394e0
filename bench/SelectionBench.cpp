// Times the selection changes the user makes by clicking, on a tree of 20,000
// albums of 12 files each, half of them on the player. Every toggle sums the
// file sizes below the node again.
#include "BenchSupport.h"

#include "model/FolderNode.h"

#include <cstdio>
#include <string>

namespace {

std::u16string Numbered(const char16_t* kind, int index)
{
    const std::string digits = std::to_string(index);
    return kind + std::u16string(digits.begin(), digits.end());
}

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

void Report(const char* what, double seconds)
{
    std::printf("  %-34s %9.3f ms\n", what, seconds * 1000);
}

} // namespace

int main()
{
    const auto root = BuildTree(2000, 10, 12);
    CFolderNode& deepAlbum = *root->m_children[1234]->m_children[7];
    const int runs = 50;
    std::printf("selection benchmark: %d albums of 12 files, best of %d runs (goal: root toggle well under 10 ms)\n",
                root->m_albums, runs);
    Report("ApplySelection(SELECT_ALL) root", BestSeconds(runs, [&] { root->ApplySelection(SELECT_ALL); }));
    Report("ApplySelection(SELECT_NONE) root", BestSeconds(runs, [&] { root->ApplySelection(SELECT_NONE); }));
    Report("ApplySelection(SELECT_INITIAL) root", BestSeconds(runs, [&] { root->ApplySelection(SELECT_INITIAL); }));
    Report("ApplySelection(SELECT_ALL) album", BestSeconds(runs, [&] { deepAlbum.ApplySelection(SELECT_ALL); }));
    root->ApplySelection(SELECT_NONE);
    volatile int sink = 0;
    Report("CountAlbumsToDelete root", BestSeconds(runs, [&] { sink = root->CountAlbumsToDelete(); }));
    Report("CountAlbumsToCopy root", BestSeconds(runs, [&] { sink = root->CountAlbumsToCopy(); }));
    std::printf("  (albums to delete after SELECT_NONE: %d)\n", root->CountAlbumsToDelete());
    return 0;
}
