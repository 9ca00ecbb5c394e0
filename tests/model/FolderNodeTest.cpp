#include "model/FolderNode.h"
#include "text/Text.h"
#include "text/Unicode.h"
#include "text/Utf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <random>
#include <utility>

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
    EXPECT_EQ(tree.root.m_children[1]->GetDisplayName(), "bad\\xE9");     // the byte that is not UTF-8
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

    // A second name of one side that differs only in case is a folder of its own.
    root.AddChild(SIDE_COMPUTER, u"abba");
    ASSERT_EQ(root.m_children.size(), 7u);
    EXPECT_EQ(root.m_children[1]->m_names[SIDE_COMPUTER], u"ABBA");
    EXPECT_EQ(root.m_children[2]->m_names[SIDE_COMPUTER], u"abba");
}

// Each name with its player name, and whether the tree leaves a folder of
// that name out as another system's.
TEST(PlayerNameTest, ReplacesWhatFatAndExfatRefuse)
{
    struct CName
    {
        std::u16string m_name;
        std::u16string m_playerName;
        bool m_bLeftOut = false;
    };
    const CName names[] = {
        {u"D\u00E9but", u"D\u00E9but"},
        {u"What's Going On?", u"What's Going On_"},
        {u"a\"*:<>?\\|b", u"a________b"},
        {u"tab\there\x1F", u"tab_here_"},
        {u"Vol. 2.", u"Vol. 2_"},
        {u"Live . ", u"Live___"},
        {u".hidden", u".hidden", true},
        {u"caf\xDCE9", u"caf_"},                  // a byte that is not UTF-8
        {u"\U0001F3B5 song", u"\U0001F3B5 song"}, // a pair of surrogates is one character
        // Albums whose names begin with dots, and the folders other systems keep.
        {u"...And Justice for All", u"...And Justice for All"},
        {u".5: The Gray Chapter", u".5_ The Gray Chapter"},
        {u". Intro", u". Intro"},
        {u"...", u"___"},
        {u".Trash-1000", u".Trash-1000", true},
        {u"._x", u"._x", true},
        {u".@__thumb", u".@__thumb", true},
        {u".lyrafetch-partial-2", u".lyrafetch-partial-2", true},
        {u"system volume information", u"system volume information", true},
        {u"LOST.DIR.", u"LOST.DIR_"},
    };
    for (const CName& name : names) {
        EXPECT_EQ(PlayerName(name.m_name), name.m_playerName);
        EXPECT_EQ(IsLeftOutFolder(name.m_name), name.m_bLeftOut) << ToLogText(name.m_name);
    }
}

// The merge walk against its rule stated plainly, on random mixtures of case
// variants on both sides: within one side every name is a node of its own;
// across the sides a name joins the node whose key is the same text, else the
// first node equal with case folded that has no name on that side yet; then a
// node only the player has joins the first node only the computer has whose
// player name is the same with case folded, then likewise composed (NFC).
TEST(FolderNodeTest, MergeKeepsEveryRuleOnRandomCaseVariants)
{
    using CNames = std::array<std::u16string, SIDE_COUNT>;
    const auto key = [](const CNames& names) {
        return names[SIDE_COMPUTER].empty() ? names[SIDE_PLAYER] : names[SIDE_COMPUTER];
    };
    const std::u16string pool[] = {u"ab",      u"Ab",      u"aB",       u"AB",      u"b",      u"B",      u"a_",
                                   u"A_",      u"a?",      u"A:",       u"ab2",     u"AB2",    u"\u00E9", u"b.",
                                   u"\u00E9 ", u"e\u0301", u"e\u0301?", u"E\u0301", u"\u00C9:"};
    const auto foldedPlayerName = [](const std::u16string& name) {
        std::u16string folded = PlayerName(name);
        std::transform(folded.begin(), folded.end(), folded.begin(), FoldAsciiCase);
        return folded;
    };
    const auto composedPlayerName = [&](const std::u16string& name) { return foldedPlayerName(ToNfc(name)); };
    const std::function<std::u16string(const std::u16string&)> stages[] = {foldedPlayerName, composedPlayerName};
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        CFolderNode root;
        std::vector<CNames> expected;
        for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
            std::vector<std::u16string> names;
            std::copy_if(std::begin(pool), std::end(pool), std::back_inserter(names),
                         [&](auto&) { return random() % 2; });
            std::sort(names.begin(), names.end(), NameOrderLess);
            std::vector<std::u16string> listing = names;
            root.AddChildren(side, listing);

            std::vector<bool> placed(names.size());
            for (std::size_t i = 0; i < names.size(); ++i) {
                for (CNames& node : expected) {
                    if (!placed[i] && node[side].empty() && key(node) == names[i]) {
                        node[side] = names[i];
                        placed[i] = true;
                    }
                }
            }
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (placed[i]) {
                    continue;
                }
                const auto node = std::find_if(expected.begin(), expected.end(), [&](const CNames& other) {
                    return other[side].empty() && CompareNames(key(other), names[i]) == 0;
                });
                if (node != expected.end()) {
                    (*node)[side] = names[i];
                } else {
                    expected.push_back({});
                    expected.back()[side] = names[i];
                }
            }
        }
        for (const auto& match : stages) {
            for (CNames& playerOnly : expected) {
                if (!playerOnly[SIDE_COMPUTER].empty() || playerOnly[SIDE_PLAYER].empty()) {
                    continue;
                }
                for (CNames& computerOnly : expected) {
                    if (computerOnly[SIDE_PLAYER].empty() && !computerOnly[SIDE_COMPUTER].empty() &&
                        match(computerOnly[SIDE_COMPUTER]) == match(playerOnly[SIDE_PLAYER])) {
                        computerOnly[SIDE_PLAYER] = std::exchange(playerOnly[SIDE_PLAYER], {});
                        break;
                    }
                }
            }
        }
        std::erase_if(expected, [&](const CNames& names) { return key(names).empty(); });
        std::sort(expected.begin(), expected.end(),
                  [&](const CNames& a, const CNames& b) { return NameOrderLess(key(a), key(b)); });
        std::vector<CNames> merged;
        for (const auto& child : root.m_children) {
            ASSERT_EQ(child->IndexInParent(), merged.size());
            merged.push_back(child->m_names);
        }
        ASSERT_EQ(merged, expected) << "round " << round;
    }
}
