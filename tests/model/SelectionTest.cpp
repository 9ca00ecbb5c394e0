#include "model/Selection.h"

#include "support/ScannedPairTest.h"
#include "support/TreeDump.h"
#include "transfer/CopyPlan.h"
#include "transfer/PlainCopy.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <tuple>

namespace {

class SelectionTest : public ScannedPairTest
{
protected:
    void ScanPair(const std::string& description)
    {
        m_fixture.Create("computer/\nplayer/\n" + description);
        ASSERT_TRUE(ScannedPairTest::ScanPair());
    }
};

} // namespace

TEST_F(SelectionTest, AfterTheScanNothingIsToBeDone)
{
    ScanPair("computer/A/One/1:5\nplayer/A/Two/1:5\nplayer/B/Three/1:5\ncomputer/B/Three/1:6\n");
    EXPECT_EQ(m_root.CountAlbumsToCopy(), 0);
    EXPECT_EQ(m_root.CountAlbumsToDelete(), 0);
    EXPECT_FALSE(m_root.HasPlayerOnlyDeletion());
    EXPECT_EQ(m_root.GetSelectionState(), TRISTATE_SOME);
    EXPECT_EQ(m_root.GetPlayerState(), TRISTATE_SOME);
    EXPECT_EQ(Node(u"B").GetPlayerState(), TRISTATE_ALL);
    EXPECT_EQ(Node(u"A/One").GetPlayerState(), TRISTATE_NONE);
}

TEST_F(SelectionTest, SelectingAComputerAlbumAddsItsBytesUpTheTree)
{
    ScanPair("computer/Artist/New/1:1000000\ncomputer/Artist/New/2:1000000\ncomputer/Artist/New/3:1000000\n"
             "computer/Artist/cover.jpg:777\nplayer/Artist/Old/1:10\n");
    Node(u"Artist/New").ApplySelection(SELECT_ALL);
    EXPECT_EQ(DumpTree(m_root), "Root M sel=2 on=1 albums=2 delta=3000000\n"
                                "  Artist|Artist M sel=2 on=1 albums=2 delta=3000000\n"
                                "    New| C sel=1 on=0 albums=1 delta=3000000\n"
                                "    |Old P sel=1 on=1 albums=1\n");
    EXPECT_EQ(m_root.CountAlbumsToCopy(), 1);
    EXPECT_EQ(Node(u"Artist").GetSelectionState(), TRISTATE_ALL);

    // Selecting a folder whose albums are all on the player changes nothing.
    Node(u"Artist/Old").ApplySelection(SELECT_ALL);
    EXPECT_EQ(m_root.m_sizeDelta, 3000000);
    EXPECT_EQ(m_root.m_selected, 2);
}

TEST_F(SelectionTest, DeselectingCountsThePlayerSideBytes)
{
    m_fixture.CreateFile("computer/Band/Live/a.flac", 40000000);
    m_fixture.CreateFile("player/Band/Live/a.flac", 45300000);
    ScanPair("player/Band/Live/b.flac:0\nplayer/Band/Empty/\n");
    Node(u"Band/Live").ApplySelection(SELECT_NONE);
    EXPECT_EQ(Node(u"Band/Live").m_sizeDelta, -45300000);
    EXPECT_EQ(m_root.m_sizeDelta, -45300000);
    EXPECT_EQ(m_root.CountAlbumsToDelete(), 1);
    EXPECT_FALSE(m_root.HasPlayerOnlyDeletion());

    // An album without files counts but adds no bytes; it exists only on the player.
    Node(u"Band/Empty").ApplySelection(SELECT_NONE);
    EXPECT_EQ(m_root.CountAlbumsToDelete(), 2);
    EXPECT_EQ(m_root.m_sizeDelta, -45300000);
    EXPECT_TRUE(m_root.HasPlayerOnlyDeletion());
    EXPECT_EQ(Node(u"Band").GetSelectionState(), TRISTATE_NONE);
    EXPECT_EQ(Node(u"Band").m_selected - Node(u"Band").m_onPlayer, -2);
}

TEST_F(SelectionTest, RootModesAndRestore)
{
    ScanPair("computer/A/One/1:100\ncomputer/A/One/2:1\nplayer/A/Two/1:20\ncomputer/B/Three/1:6\n"
             "player/B/Three/1:7\nplayer/B/Three/2:8\ncomputer/C/Empty/\nplayer/top.txt:99\n");
    m_root.ApplySelection(SELECT_NONE);
    EXPECT_EQ(m_root.CountAlbumsToDelete(), m_root.m_onPlayer);
    EXPECT_EQ(m_root.CountAlbumsToCopy(), 0);
    EXPECT_TRUE(m_root.HasPlayerOnlyDeletion());
    EXPECT_EQ(m_root.m_sizeDelta, -(20 + 7 + 8));

    m_root.ApplySelection(SELECT_ALL);
    EXPECT_EQ(m_root.CountAlbumsToCopy(), 2); // One and the empty album
    EXPECT_EQ(m_root.m_sizeDelta, 101);
    EXPECT_FALSE(m_root.HasPlayerOnlyDeletion());

    const std::string initial = "Root M sel=2 on=2 albums=4\n"
                                "  A|A M sel=1 on=1 albums=2\n"
                                "    One| C sel=0 on=0 albums=1\n"
                                "    |Two P sel=1 on=1 albums=1\n"
                                "  B|B C sel=1 on=1 albums=1\n"
                                "    Three|Three C sel=1 on=1 albums=1\n"
                                "  C| C sel=0 on=0 albums=1\n"
                                "    Empty| C sel=0 on=0 albums=1\n";
    Node(u"A").ApplySelection(SELECT_NONE);
    m_root.ApplySelection(SELECT_INITIAL);
    EXPECT_EQ(DumpTree(m_root), initial);
}

namespace {

// A random merged tree built in memory, as a scan would leave it.
void GrowRandomTree(CFolderNode& node, int depth, std::mt19937& random)
{
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const int children = depth >= 5 ? 0 : pick(0, depth == 0 ? 6 : 4);
    for (int i = 0; i < children; ++i) {
        const std::u16string name = u"n" + std::u16string(1, static_cast<char16_t>(u'a' + i));
        int sides = pick(1, 3); // 1 computer, 2 player, 3 both
        sides &= (node.m_names[SIDE_COMPUTER].empty() ? 2 : 3) & (node.m_names[SIDE_PLAYER].empty() ? 1 : 3);
        for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
            if (sides & (1 << side)) {
                node.AddChild(side, name);
            }
        }
    }
    for (const auto& child : node.m_children) {
        for (int side = SIDE_COMPUTER; side < SIDE_COUNT; ++side) {
            for (int file = child->m_names[side].empty() ? 0 : pick(0, 3); file > 0; --file) {
                const auto size = std::uniform_int_distribution<std::uint64_t>(0, 6ull << 30)(random);
                child->m_files[side].push_back({u"f", size});
            }
        }
        GrowRandomTree(*child, depth + 1, random);
        child->m_bChanged = child->IsAlbum() && !child->m_names[SIDE_COMPUTER].empty() &&
                            !child->m_names[SIDE_PLAYER].empty() && random() % 2 != 0;
    }
}

void CollectNodes(CFolderNode& node, std::vector<CFolderNode*>& nodes)
{
    nodes.push_back(&node);
    for (const auto& child : node.m_children) {
        CollectNodes(*child, nodes);
    }
}

std::int64_t ExpectedDelta(const CFolderNode& node)
{
    std::int64_t sum = 0;
    if (node.IsAlbum()) {
        const bool selected = node.m_selected != 0;
        const bool onPlayer = !node.m_names[SIDE_PLAYER].empty();
        const auto bytes = [&](int side) {
            std::int64_t total = 0;
            for (const auto& file : node.m_files[side]) {
                total += static_cast<std::int64_t>(file.m_size);
            }
            return total;
        };
        if (selected && onPlayer && node.m_bChanged && !node.m_bKeepPlayers) {
            return bytes(SIDE_COMPUTER) - bytes(SIDE_PLAYER); // refreshed: new minus old
        }
        return selected == onPlayer ? 0 : selected ? bytes(SIDE_COMPUTER) : -bytes(SIDE_PLAYER);
    }
    for (const auto& child : node.m_children) {
        sum += ExpectedDelta(*child);
    }
    return sum;
}

void CheckInvariants(const CFolderNode& node, int& toCopy, int& toDelete, int& toRefresh)
{
    EXPECT_EQ(node.m_sizeDelta, ExpectedDelta(node));
    EXPECT_GE(node.m_selected, 0);
    EXPECT_LE(node.m_selected, node.m_albums);
    if (node.IsAlbum()) {
        EXPECT_EQ(node.m_albums, 1);
        toCopy += node.m_selected != 0 && node.m_names[SIDE_PLAYER].empty();
        toDelete += node.m_selected == 0 && !node.m_names[SIDE_PLAYER].empty();
        toRefresh += node.m_selected != 0 && node.m_bChanged && !node.m_bKeepPlayers;
        return;
    }
    std::int32_t selected = 0, onPlayer = 0, albums = 0;
    for (const auto& child : node.m_children) {
        selected += child->m_selected;
        onPlayer += child->m_onPlayer;
        albums += child->m_albums;
        CheckInvariants(*child, toCopy, toDelete, toRefresh);
    }
    EXPECT_EQ(node.m_selected, selected);
    EXPECT_EQ(node.m_onPlayer, onPlayer);
    EXPECT_EQ(node.m_albums, albums);
}

} // namespace

// Toggles of whole subtrees, and of some of the albums below a node as a
// filtered view makes them, album given twice included; changed albums kept
// as the player has them, one or all below a node, and refreshed again.
TEST(SelectionPropertyTest, CountersAndDeltasStayConsistentUnderRandomToggles)
{
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        CFolderNode root;
        root.SetName(SIDE_COMPUTER, u"/c");
        root.SetName(SIDE_PLAYER, u"/p");
        GrowRandomTree(root, 0, random);
        root.FinishScan();
        root.ComputeDeltas(); // changed albums on the player are refreshed from the start

        std::vector<CFolderNode*> nodes;
        CollectNodes(root, nodes);
        for (int step = 0; step < 30; ++step) {
            CFolderNode* node = nodes[std::uniform_int_distribution<std::size_t>(0, nodes.size() - 1)(random)];
            const int mode = std::uniform_int_distribution<int>(SELECT_NONE, SELECT_INITIAL)(random);
            if (step % 5 == 4) {
                const bool keep = random() % 2 != 0;
                node->IsAlbum() ? SetKeepPlayers(*node, keep) : SetKeepAllPlayers(*node, keep);
            } else if (step % 2 == 0) {
                node->ApplySelection(mode);
            } else {
                std::vector<CFolderNode*> below;
                CollectNodes(*node, below);
                std::vector<CFolderNode*> albums;
                std::copy_if(below.begin(), below.end(), std::back_inserter(albums),
                             [&](const CFolderNode* album) { return album->IsAlbum() && random() % 3 != 0; });
                if (!albums.empty()) {
                    albums.push_back(albums.front());
                }
                ApplyAlbumSelection(albums, mode);
                for (const CFolderNode* album : albums) {
                    ASSERT_EQ(album->m_selected, mode == SELECT_ALL       ? 1
                                                 : mode == SELECT_INITIAL ? album->m_onPlayer
                                                                          : 0);
                }
            }
            int toCopy = 0;
            int toDelete = 0;
            int toRefresh = 0;
            CheckInvariants(root, toCopy, toDelete, toRefresh);
            ASSERT_EQ(root.CountAlbumsToCopy(), toCopy);
            ASSERT_EQ(root.CountAlbumsToDelete(), toDelete);
            ASSERT_EQ(root.CountAlbumsToRefresh(), toRefresh);
            if (::testing::Test::HasFailure()) {
                return;
            }
        }
    }
}

// Makes files half their source's size, as a conversion does.
class CHalvingWriter final : public IPlayerFiles
{
public:
    std::u16string PlayerFileName(const CFolderNode&, const CFileEntry& source) const override
    {
        return PlayerName(source.m_name);
    }
    std::uint64_t ExpectedBytes(const CFolderNode&, const CFileEntry& source) const override
    {
        return source.m_size / 2;
    }
    std::string WriterId() const override { return "half"; }
};

// A changed album ticked is refreshed: its bytes are the new version's minus
// the old one's, in the labels and on a card with clusters, and the plan lists
// it among the copies with both sizes.
TEST_F(SelectionTest, ARefreshCountsNewMinusOldUntilThePlayersVersionIsKept)
{
    ScanPair("computer/A/Grown/1:3000\ncomputer/A/Grown/2:500\nplayer/A/Grown/1:1000\n"
             "computer/A/New/1:7\ncomputer/A/Same/1:5\nplayer/A/Same/1:5\n"
             "computer/B/Shrunk/1:10\nplayer/B/Shrunk/1:4000\n");
    m_root.ComputeChanges(CPlainCopy());
    m_root.ComputeDeltas();
    Node(u"A/New").ApplySelection(SELECT_ALL);
    EXPECT_EQ(m_root.m_changed, 2);
    EXPECT_EQ(m_root.CountAlbumsToRefresh(), 2);
    EXPECT_EQ(Node(u"A/Grown").m_sizeDelta, 3500 - 1000);
    EXPECT_EQ(Node(u"B").m_sizeDelta, 10 - 4000);
    EXPECT_EQ(m_root.m_sizeDelta, 2500 + 7 - 3990);
    // Clusters of 4096: Grown's two files take two where its one took one,
    // Shrunk's file one in place of one, New one for its file and one for its
    // folder; each album written one for its manifest, where the old versions
    // had none.
    EXPECT_EQ(m_root.ComputeSpaceDelta(4096, CPlainCopy()), 4096 + 2 * 4096 + 3 * 4096);

    CCopyPlan plan(m_root);
    std::vector<std::tuple<std::u16string, EPlanStep, std::uint64_t, std::uint64_t>> steps;
    for (const CPlannedAlbum& album : plan.Albums()) {
        steps.emplace_back(album.m_pAlbum->GetKeyName(), album.m_step, album.m_bytes, album.m_oldBytes);
    }
    EXPECT_EQ(steps, (decltype(steps){{u"Grown", EPlanStep::Refresh, 3500, 1000},
                                      {u"New", EPlanStep::Copy, 7, 0},
                                      {u"Shrunk", EPlanStep::Refresh, 10, 4000}}));
    EXPECT_EQ(plan.BytesToCopy(), 3517u);
    // A refresh done counts as an album copied.
    plan.SetOutcome(Node(u"A/Grown"), EAlbumOutcome::Done);
    EXPECT_EQ(plan.Summarize().m_nCopied, 1);
    EXPECT_EQ(plan.Summarize().m_nBytesWritten, 3500u);

    SetKeepPlayers(Node(u"A/Grown"), true);
    EXPECT_EQ(Node(u"A").m_sizeDelta, 7);
    EXPECT_EQ(m_root.m_sizeDelta, 7 - 3990);
    EXPECT_EQ(m_root.CountAlbumsToRefresh(), 1);
    EXPECT_EQ(m_root.m_changed, 2); // kept, it is still changed
    SetKeepAllPlayers(m_root, true);
    EXPECT_EQ(m_root.m_sizeDelta, 7);
    EXPECT_EQ(m_root.CountAlbumsToRefresh(), 0);
    EXPECT_FALSE(Node(u"A/Same").m_bKeepPlayers); // only changed albums are kept
    // Deselected, a kept album is deleted as any other.
    Node(u"B/Shrunk").ApplySelection(SELECT_NONE);
    EXPECT_EQ(m_root.m_sizeDelta, 7 - 4000);
    SetKeepAllPlayers(m_root, false);
    EXPECT_EQ(m_root.m_sizeDelta, 7 + 2500 - 4000);
    EXPECT_EQ(m_root.CountAlbumsToRefresh(), 1);

    // The labels count what the writer in use makes of the files, as the
    // free space does, whichever way an album's bytes come to be counted.
    const CHalvingWriter halving;
    m_root.SetPlayerFiles(&halving);
    m_root.ComputeDeltas();
    EXPECT_EQ(Node(u"A/Grown").m_sizeDelta, 1750 - 1000);
    Node(u"A/New").ApplySelection(SELECT_NONE);
    Node(u"A/New").ApplySelection(SELECT_ALL);
    EXPECT_EQ(m_root.m_sizeDelta, 3 + (1750 - 1000) - 4000);
}
