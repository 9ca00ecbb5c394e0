#include "model/FolderNode.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Root "/music/" with the computer and "/media/player" with the player, and the
// album ABBA/Gold named ABBA on the computer and abba on the player.
struct CSmallTree
{
    CSmallTree()
    {
        root.SetName(SIDE_COMPUTER, u"/music/");
        root.SetName(SIDE_PLAYER, u"/media/player");
        root.AddChild(SIDE_COMPUTER, u"ABBA");
        root.AddChild(SIDE_PLAYER, u"abba");
        artist = root.m_children[0].get();
        artist->AddChild(SIDE_COMPUTER, u"Gold");
        album = artist->m_children[0].get();
    }

    CFolderNode root;
    CFolderNode* artist = nullptr;
    CFolderNode* album = nullptr;
};

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

TEST(CompareNamesTest, FoldsOnlyAsciiLetters)
{
    EXPECT_EQ(CompareNames(u"ABBA", u"abba"), 0);
    EXPECT_EQ(CompareNames(u"Abba", u"ABBA"), 0);
    EXPECT_NE(CompareNames(u"\u00C9vora", u"\u00E9vora"), 0); // É and é stay apart
    EXPECT_EQ(Sign(CompareNames(u"_Misc", u"ABBA")), -1);     // 0x5F sorts before the folded letters
    EXPECT_EQ(Sign(CompareNames(u"[x]", u"a")), -1);
    EXPECT_EQ(Sign(CompareNames(u"abc10", u"abc2")), -1);
    EXPECT_EQ(Sign(CompareNames(u"abc", u"abcd")), -1); // a prefix ends in its terminating 0
    EXPECT_EQ(Sign(CompareNames(u"abcd", u"ABC")), 1);
    EXPECT_EQ(CompareNames(u"", u""), 0);
    // The difference of the folded units, taken as unsigned 16-bit values.
    EXPECT_EQ(CompareNames(u"b", u"A"), 1);
    EXPECT_EQ(CompareNames(u"\uFFFF", u"a"), 0xFFFF - 0x61);
}

TEST(FolderNodeTest, PathsOfBothSides)
{
    CSmallTree tree;
    // A root that ends in a separator gives a doubled one: nothing is normalised.
    EXPECT_EQ(tree.album->GetPath(SIDE_COMPUTER, false), u"/music//ABBA/Gold");
    EXPECT_EQ(tree.album->GetPath(SIDE_COMPUTER, true), u"COMPUTER/ABBA/Gold");
    EXPECT_EQ(tree.album->GetPath(SIDE_PLAYER, SIDE_COMPUTER, true), u"JUKEBIT/ABBA/Gold");
    EXPECT_EQ(tree.album->GetPath(SIDE_PLAYER, SIDE_COMPUTER, false), u"/media/player/ABBA/Gold");
    EXPECT_EQ(tree.artist->GetPath(SIDE_PLAYER, false), u"/media/player/abba");
    // A missing name on the side gives an empty component.
    EXPECT_EQ(tree.album->GetPath(SIDE_PLAYER, false), u"/media/player/abba/");
    EXPECT_EQ(tree.root.GetPath(SIDE_PLAYER, true), u"JUKEBIT");

    EXPECT_EQ(tree.root.GetRelativePath(SIDE_COMPUTER), u"");
    EXPECT_EQ(tree.artist->GetRelativePath(SIDE_PLAYER), u"abba");
    EXPECT_EQ(tree.album->GetRelativePath(SIDE_COMPUTER), u"ABBA/Gold");
    EXPECT_EQ(tree.album->GetRootFolder(SIDE_PLAYER), u"/media/player");
}

TEST(FolderNodeTest, KeyAndDisplayNames)
{
    CSmallTree tree;
    EXPECT_EQ(tree.root.GetDisplayName(), "Root");
    EXPECT_EQ(tree.artist->m_names[SIDE_COMPUTER], u"ABBA");
    EXPECT_EQ(tree.artist->m_names[SIDE_PLAYER], u"abba");
    EXPECT_EQ(tree.artist->GetDisplayName(), "ABBA");

    tree.root.AddChild(SIDE_PLAYER, u"\u00C9vora");
    tree.root.AddChild(SIDE_PLAYER, std::u16string(u"bad") + char16_t(0xDCE9));
    ASSERT_EQ(tree.root.m_children.size(), 3u);
    EXPECT_EQ(tree.root.m_children[1]->GetDisplayName(), "<Unicode to Ascii conversion error>");
    EXPECT_EQ(tree.root.m_children[2]->GetDisplayName(), "\xC3\x89vora"); // player-only key name
    EXPECT_TRUE(tree.album->IsAlbum());
    EXPECT_FALSE(tree.artist->IsAlbum());
}

TEST(FolderNodeTest, AddChildMergesAndKeepsOrder)
{
    CFolderNode root;
    for (const char16_t* name : {u"abc2", u"Zappa", u"abc10", u"_Misc", u"ABBA"}) {
        root.AddChild(SIDE_COMPUTER, name);
    }
    root.AddChild(SIDE_PLAYER, u"abba");
    root.AddChild(SIDE_PLAYER, u"\u00E9vora");
    root.AddChild(SIDE_PLAYER, u"zappa");

    std::vector<std::u16string> keys;
    for (const auto& child : root.m_children) {
        keys.push_back(child->GetKeyName());
        EXPECT_EQ(child->m_pParent, &root);
    }
    const std::vector<std::u16string> expected = {u"_Misc", u"ABBA", u"abc10", u"abc2", u"Zappa", u"\u00E9vora"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(root.m_children[1]->m_names[SIDE_PLAYER], u"abba");
    EXPECT_EQ(root.m_children[4]->m_names[SIDE_PLAYER], u"zappa");

    // A second name of the same side that compares equal replaces the first.
    root.AddChild(SIDE_COMPUTER, u"abba");
    EXPECT_EQ(root.m_children[1]->m_names[SIDE_COMPUTER], u"abba");
    EXPECT_EQ(root.m_children.size(), 6u);
}
