#include "app/Presentation.h"

#include "transfer/CopyLog.h"
#include "transfer/PlainCopy.h"

#include <gtest/gtest.h>

namespace {

CFolderNode& SetCounts(CFolderNode& node, int selected, int onPlayer, int albums, std::int64_t delta = 0,
                       int presence = PRESENCE_COMPUTER)
{
    node.m_selected = selected;
    node.m_onPlayer = onPlayer;
    node.m_albums = albums;
    node.m_sizeDelta = delta;
    node.m_presence = presence;
    return node;
}

} // namespace

TEST(PresentationTest, ItemLabels)
{
    CFolderNode root;
    auto* live = new CFolderNode(&root);
    root.m_children.emplace_back(live);
    live->SetName(SIDE_COMPUTER, u"Live");
    const auto label = [&](int selected, int onPlayer, int albums, std::int64_t delta, int presence) {
        return FormatItemLabel(SetCounts(*live, selected, onPlayer, albums, delta, presence));
    };
    EXPECT_EQ(label(1, 1, 1, 0, PRESENCE_COMPUTER), "Live (1/1) (+0/+0MB)");
    EXPECT_EQ(label(0, 1, 1, -45300000, PRESENCE_PLAYER_ONLY), "> Live (0/1) (-1/-45MB)");
    EXPECT_EQ(label(0, 1, 5, 0, PRESENCE_MIXED), "> Live (0/5) (-1/+0MB)");
    // Megabytes truncate toward zero: no sign below one negative megabyte.
    EXPECT_EQ(label(1, 1, 1, -999999, PRESENCE_COMPUTER), "Live (1/1) (+0/0MB)");
    EXPECT_EQ(label(1, 1, 1, 999999, PRESENCE_COMPUTER), "Live (1/1) (+0/+0MB)");
    EXPECT_EQ(label(1, 3, 4, -1000000, PRESENCE_COMPUTER), "Live (1/4) (-2/-1MB)");
    EXPECT_EQ(label(9, 0, 9, 40000000000000, PRESENCE_COMPUTER), "Live (9/9) (+9/+40000000MB)");

    // A name that would turn the counts around on screen.
    live->SetName(SIDE_COMPUTER, u"Live\u202E");
    EXPECT_EQ(label(1, 1, 1, 0, PRESENCE_COMPUTER), "Live\\u202E (1/1) (+0/+0MB)");

    // Changed on the computer since it was copied: the album says it, and whether the player's version stays.
    live->SetName(SIDE_COMPUTER, u"Live");
    live->m_bChanged = true;
    live->m_changed = 1;
    EXPECT_EQ(label(1, 1, 1, 2000000, PRESENCE_COMPUTER), "Live (1/1) (+0/+2MB) (changed)");
    live->m_bKeepPlayers = true;
    EXPECT_EQ(label(1, 1, 1, 0, PRESENCE_COMPUTER), "Live (1/1) (+0/+0MB) (changed, kept as on Jukebit)");

    root.SetName(SIDE_COMPUTER, u"/home/me/Music");
    EXPECT_EQ(FormatItemLabel(SetCounts(root, 103, 100, 120, 160000000)), "Root (103/120) (+3/+160MB)");
    // A folder counts the changed albums at or below it, kept or not.
    root.m_changed = 2;
    EXPECT_EQ(FormatItemLabel(root), "Root (103/120) (+3/+160MB) (2 changed)");
    EXPECT_EQ(CountKeptAlbums(&root), 1);
}

TEST(PresentationTest, ToggleCycleOfAPartlyOnPlayerFolder)
{
    // Scan-time state SOME: some -> all -> none -> scan-time -> all.
    CFolderNode node;
    EXPECT_EQ(ChooseToggleMode(SetCounts(node, 1, 1, 2)), SELECT_ALL);
    EXPECT_EQ(ChooseToggleMode(SetCounts(node, 2, 1, 2)), SELECT_NONE);
    EXPECT_EQ(ChooseToggleMode(SetCounts(node, 0, 1, 2)), SELECT_INITIAL);
    // All or none on the player at scan time: flips between all and none.
    EXPECT_EQ(ChooseToggleMode(SetCounts(node, 0, 0, 2)), SELECT_ALL);
    EXPECT_EQ(ChooseToggleMode(SetCounts(node, 2, 2, 2)), SELECT_NONE);
    EXPECT_EQ(ChooseToggleMode(SetCounts(node, 1, 2, 2)), SELECT_ALL);
}

TEST(PresentationTest, FreeSpaceAndTitle)
{
    EXPECT_EQ(FormatFreeSpace(1234567890, 4000000000u), "Free Space : 1234MB / 4000MB");
    EXPECT_EQ(FormatFreeSpace(-999999, 0), "Free Space : 0MB / 0MB");
    EXPECT_EQ(FormatFreeSpace(-1000000, 0), "Free Space : -1MB / 0MB");

    EXPECT_EQ(FormatWindowTitle(CCopyProgress()), "Lyrafetch");
    EXPECT_EQ(FormatWindowTitle({true, 0, 0, 0, 0}), "0/0 - Lyrafetch");
    EXPECT_EQ(FormatWindowTitle({true, 2, 7, 3, 10}), "3/10 - Lyrafetch");
}

TEST(PresentationTest, ClosingQuestion)
{
    CCopyLog log;
    log.Add(LOG_INFO, "Copying");
    log.Add(LOG_CANCEL, "Canceled by user");
    EXPECT_EQ(ChooseClosingQuestion(false, log).m_text, "Done. See log ?");
    EXPECT_EQ(ChooseClosingQuestion(false, log).m_type, 0x41u);
    // Stopped by the program with no call failed: the player went between two files.
    CCopyLog gone;
    gone.Add(LOG_CANCEL, "Canceled because disk is not available");
    EXPECT_EQ(ChooseClosingQuestion(false, gone).m_text, "Errors ! See log ?");
    log.Add(LOG_ERROR, "Writing");
    EXPECT_EQ(ChooseClosingQuestion(false, log).m_text, "Errors ! See log ?");
    EXPECT_EQ(ChooseClosingQuestion(false, log).m_type, 0x31u);
    EXPECT_EQ(ChooseClosingQuestion(true, log).m_text, "Canceled. See log ?");
    EXPECT_EQ(ChooseClosingQuestion(true, log).m_type, 0x41u);
}

// Names converted files as a converting writer does: ".flac" becomes ".opus".
class CFlacToOpusNames final : public IPlayerFiles
{
public:
    std::u16string PlayerFileName(const CFolderNode&, const CFileEntry& source) const override
    {
        const std::u16string name = PlayerName(source.m_name);
        return name.ends_with(u".flac") ? name.substr(0, name.size() - 5) + u".opus" : name;
    }
    std::uint64_t ExpectedBytes(const CFolderNode&, const CFileEntry& source) const override { return source.m_size; }
    std::string WriterId() const override { return "opus-128"; }
};

TEST(PresentationTest, PlanRowsSayWhatTheJobDoesToEachAlbum)
{
    CFolderNode root;
    root.SetName(SIDE_COMPUTER, u"/c");
    root.SetName(SIDE_PLAYER, u"/p");
    auto* album = new CFolderNode(&root);
    root.m_children.emplace_back(album);
    album->SetName(SIDE_COMPUTER, u"Gold");
    album->SetName(SIDE_PLAYER, u"Gold");
    album->m_files[SIDE_COMPUTER] = {{u"cover.jpg", 10}, {u"01.mp3", 10}};
    const CPlainCopy copy;
    const CFlacToOpusNames opus;
    const auto row = [&](EPlanStep step, const IPlayerFiles& writer) {
        const CPlanRow planned = FormatPlanRow({album, step, 45900000, 40100000}, writer);
        return planned.m_step + "|" + planned.m_album + "|" + planned.m_size;
    };
    EXPECT_EQ(row(EPlanStep::Delete, copy), "Delete|JUKEBIT/Gold|45 MB");
    EXPECT_EQ(row(EPlanStep::Copy, copy), "Copy|COMPUTER/Gold|45 MB");
    EXPECT_EQ(row(EPlanStep::Refresh, copy), "Refresh|COMPUTER/Gold|45 MB (was 40 MB)");
    // Lossy files and covers pass as they are: nothing of this album is converted.
    EXPECT_EQ(row(EPlanStep::Copy, opus), "Copy|COMPUTER/Gold|45 MB");
    album->m_files[SIDE_COMPUTER].push_back({u"02.flac", 10});
    EXPECT_EQ(row(EPlanStep::Copy, opus), "Copy and convert|COMPUTER/Gold|45 MB");
    EXPECT_EQ(row(EPlanStep::Refresh, opus), "Refresh and convert|COMPUTER/Gold|45 MB (was 40 MB)");
    EXPECT_EQ(row(EPlanStep::Refresh, copy), "Refresh|COMPUTER/Gold|45 MB (was 40 MB)");
}

TEST(PresentationTest, AlbumStatesAndTheJobsShare)
{
    EXPECT_EQ(FormatAlbumState(EPlanStep::Refresh, EAlbumOutcome::Done, EAlbumTurn::Never), "Refreshed");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Refresh, EAlbumOutcome::Pending, EAlbumTurn::Now), "Refreshing...");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Delete, EAlbumOutcome::Done, EAlbumTurn::Now), "Deleted");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Copy, EAlbumOutcome::Done, EAlbumTurn::Never), "Copied");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Copy, EAlbumOutcome::Failed, EAlbumTurn::Later), "Failed");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Copy, EAlbumOutcome::Pending, EAlbumTurn::Later), "");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Delete, EAlbumOutcome::Pending, EAlbumTurn::Now), "Deleting...");
    EXPECT_EQ(FormatAlbumState(EPlanStep::Copy, EAlbumOutcome::Pending, EAlbumTurn::Never), "Skipped");

    // By bytes, whatever the albums; by albums when nothing is copied; done when there is nothing.
    EXPECT_EQ(JobPermille(0, 2000, 3, 4), 0);
    EXPECT_EQ(JobPermille(1999, 2000, 0, 4), 999);
    EXPECT_EQ(JobPermille(2500, 2000, 0, 4), 1000);
    EXPECT_EQ(JobPermille(0, 0, 1, 4), 250);
    EXPECT_EQ(JobPermille(0, 0, 0, 0), 1000);

    EXPECT_EQ(FormatDuration(42), "0:42");
    EXPECT_EQ(FormatDuration(725), "12:05");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

// The rate is told once a second has passed, over the last five seconds, and
// the time left at that rate while bytes are left.
TEST(PresentationTest, JobSummary)
{
    const CJobSummary summary{2, 5, 1, 3, 245900000, std::chrono::milliseconds(62999)};
    EXPECT_EQ(FormatJobSummary(summary),
              "Albums deleted : 2, copied : 5, failed : 1, not reached : 3. 245 MB written in 1:02.");
}

TEST(PresentationTest, TransferMeter)
{
    CTransferMeter meter(194000000);
    meter.Sample(0, 0);
    meter.Sample(0.5, 5000000);
    EXPECT_EQ(meter.Text(), "5 of 194 MB");
    meter.Sample(2, 20000000);
    EXPECT_EQ(meter.Text(), "20 of 194 MB, 10.0 MB/s, 0:18 left");
    // A stall long ago no longer weighs on the rate.
    meter.Sample(10, 20000000);
    meter.Sample(16, 80000000);
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(), 10000000);
    meter.Sample(17, 194000000);
    EXPECT_EQ(meter.Text(), "194 of 194 MB");
}
