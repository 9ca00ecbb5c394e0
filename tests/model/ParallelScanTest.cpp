#include "model/FolderNode.h"

#include "platform/FileSystem.h"
#include "support/FolderFixture.h"
#include "support/TreeDump.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

namespace fs = std::filesystem;

// The listings are read on several threads and finish in any order; the walk
// takes them in its own, so every scan gives the same tree and, where folders
// cannot be read, the message of the first of them.
TEST(ParallelScanTest, AlwaysTheSameTreeAndTheSameFailure)
{
    CFolderFixture fixture;
    std::string library = "computer/\nplayer/\n";
    for (int artist = 0; artist < 30; ++artist) {
        for (int album = 0; album < 5; ++album) {
            const std::string path = "/Artist " + std::to_string(artist) + "/Album " + std::to_string(album);
            library += "computer" + path + "/1:1\ncomputer" + path + "/2:2\n";
            if (album % 2 == 0) {
                library += "player" + path + "/1:1\n";
            }
        }
    }
    fixture.Create(library);
    const auto scan = [&](CMessage& failure) {
        CFolderNode root;
        root.SetName(SIDE_COMPUTER, FromNativeName((fixture / "computer").native()));
        root.SetName(SIDE_PLAYER, FromNativeName((fixture / "player").native()));
        CScanRecord record;
        return root.Scan(record, failure) ? DumpTree(root) : std::string();
    };
    CMessage failure;
    const std::string tree = scan(failure);
    ASSERT_NE(tree.find("Album 4"), std::string::npos);
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(scan(failure), tree);
    }

    // Two links back up the tree: the walk meets the one in Artist 17 first.
    fs::create_directory_symlink("..", fixture / "player/Artist 25/Album 0/back");
    fs::create_directory_symlink("..", fixture / "computer/Artist 17/Album 3/back");
    const std::string expected = "Error : 40 (Too many levels of symbolic links)\nWhile reading : " +
                                 (fixture / "computer/Artist 17/Album 3/back").string();
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(scan(failure), "");
        ASSERT_EQ(failure.m_text, expected);
    }
}

// Deep down, where the scan holds a folder open for the folders below it, a
// wide tree is read with no more descriptors than a shallow one: what is read
// ahead there holds none.
TEST(ParallelScanTest, AWideTreeDeepDownNeedsFewDescriptors)
{
    CFolderFixture fixture;
    std::string deep = "computer";
    for (int level = 0; level < 7; ++level) {
        deep += "/" + std::to_string(level) + std::string(240, 'x');
    }
    std::string library = "player/\n";
    for (int artist = 0; artist < 32; ++artist) {
        for (int album = 0; album < 32; ++album) {
            library += deep + "/" + std::to_string(artist) + std::string(240, 'a') + "/" + std::to_string(album) +
                       std::string(240, 'b') + "/\n";
        }
    }
    fixture.Create(library);
    CFolderNode root;
    root.SetName(SIDE_COMPUTER, FromNativeName((fixture / "computer").native()));
    root.SetName(SIDE_PLAYER, FromNativeName((fixture / "player").native()));
    CScanRecord record;
    CMessage failure;
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const struct rlimit low = {200, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const bool scanned = root.Scan(record, failure);
    setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_TRUE(scanned) << failure.m_text;
    EXPECT_EQ(root.m_albums, 32 * 32);
}
