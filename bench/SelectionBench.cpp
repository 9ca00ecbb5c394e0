// Times the selection changes the user makes by clicking, on a tree of 20,000
// albums of 12 files each, half of them on the player. Every toggle sums the
// file sizes below the node again.
#include "BenchSupport.h"
#include "SyntheticTree.h"

#include "model/FolderNode.h"

#include <cstdio>

namespace {

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
