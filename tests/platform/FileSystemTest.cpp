#include "platform/FileSystem.h"
#include "platform/VolumeFacts.h"

#include "platform/MountTable.h"
#include "support/FolderFixture.h"
#include "support/ScratchVolume.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include <cerrno>

namespace fs = std::filesystem;

namespace {

std::vector<std::u16string> Names(const CFolderListing& listing)
{
    std::vector<std::u16string> names;
    for (const auto& entry : listing.m_entries) {
        names.push_back(entry.m_name);
    }
    return names;
}

std::u16string Wide(const fs::path& path)
{
    return FromNativeName(path.native());
}

} // namespace

TEST(NativeNames, EveryByteSequenceRoundTrips)
{
    const std::string names[] = {"plain",
                                 "\xC3\x89vora",
                                 "latin1 \xE9t\xE9",
                                 "\xFF\xFE",
                                 "cut \xE2\x82",
                                 "\xF0\x9F\x8E\xB5 note",
                                 "\xED\xA0\x80 encoded surrogate"};
    for (const auto& name : names) {
        EXPECT_EQ(ToNativePath(FromNativeName(name)), name);
    }
    EXPECT_EQ(FromNativeName("\xC3\x89vora"), u"\u00C9vora");
    EXPECT_EQ(FromNativeName("a\xE9"), std::u16string(u"a") + char16_t(0xDCE9));
}

TEST(ListFolderTest, EntriesInFoldedNameOrderWithTypesAndSizes)
{
    CFolderFixture fixture;
    // Created in reverse order so the system's own order is unlikely to be sorted.
    fixture.Create("abc2/\nabc10/\nABBA/\n_Misc/\nabba/\nzz.mp3:7\n...:0\nB.txt:1\n");
    fs::create_directory_symlink(fixture / "ABBA", fixture / "link");
    fs::create_symlink(fixture / "missing", fixture / "dangling");

    CFolderListing listing;
    ASSERT_EQ(ListFolder(Wide(fixture.Root()), listing), 0);
    EXPECT_EQ(listing.m_readError, 0);
    const std::vector<std::u16string> expected = {u"...",  u"_Misc", u"ABBA",     u"abba", u"abc10",
                                                  u"abc2", u"B.txt", u"dangling", u"link", u"zz.mp3"};
    EXPECT_EQ(Names(listing), expected);
    const auto& entries = listing.m_entries;
    EXPECT_FALSE(entries[0].m_bFolder); // "..." is an ordinary name
    EXPECT_TRUE(entries[1].m_bFolder);
    EXPECT_EQ(entries[6].m_size, 1u);
    EXPECT_FALSE(entries[7].m_bFolder); // a dangling link is a file
    EXPECT_TRUE(entries[8].m_bFolder);  // a link to a folder is a folder
    EXPECT_EQ(entries[9].m_size, 7u);

    // A folder whose entries the system hands over in several batches.
    const fs::path many = fixture / "many";
    fs::create_directory(many);
    constexpr int COUNT = 3000;
    for (int i = 0; i < COUNT; ++i) {
        std::ofstream(many / ("track " + std::to_string(i) + " of a folder listed in several batches.mp3")) << i;
    }
    ASSERT_EQ(ListFolder(Wide(many), listing), 0);
    EXPECT_EQ(listing.m_readError, 0);
    ASSERT_EQ(listing.m_entries.size(), static_cast<std::size_t>(COUNT));
    EXPECT_EQ(listing.m_entries.front().m_name, u"track 0 of a folder listed in several batches.mp3");
    EXPECT_EQ(listing.m_entries.back().m_size, 3u); // "999"
}

TEST(ListFolderTest, FailuresAndIdentity)
{
    CFolderFixture fixture;
    fixture.Create("album/\nfile:3\n");
    CFolderListing listing;
    EXPECT_EQ(ListFolder(Wide(fixture / "absent"), listing), ENOENT);
    EXPECT_TRUE(listing.m_entries.empty());
    EXPECT_EQ(ListFolder(Wide(fixture / "file"), listing), ENOTDIR);

    CFolderListing first;
    CFolderListing again;
    ASSERT_EQ(ListFolder(Wide(fixture / "album"), first), 0);
    fs::create_directory_symlink(fixture / "album", fixture / "alias");
    ASSERT_EQ(ListFolder(Wide(fixture / "alias"), again), 0);
    EXPECT_EQ(first.m_id, again.m_id);
    ASSERT_EQ(ListFolder(Wide(fixture.Root()), again), 0);
    EXPECT_NE(first.m_id, again.m_id);
}

TEST(QueryVolumeSpaceTest, ReportsSpaceOrError)
{
    CFolderFixture fixture;
    std::uint64_t available = 0;
    std::uint64_t total = 0;
    std::uint64_t unit = 0;
    ASSERT_EQ(QueryVolumeSpace(fixture.Root().string(), available, total, unit), 0);
    EXPECT_GT(total, 0u);
    EXPECT_LE(available, total);
    EXPECT_GT(unit, 0u);

    available = total = unit = 7;
    EXPECT_EQ(QueryVolumeSpace((fixture / "absent").string(), available, total, unit), ENOENT);
    EXPECT_EQ(available, 7u);
    EXPECT_EQ(total, 7u);
    EXPECT_EQ(unit, 7u);
}

// A temporary folder that a killed process left goes when the next one of its
// prefix is made; one still in use, or just made, stays, as do other folders.
TEST(TemporaryFolderTest, RemovesWhatKilledProcessesLeft)
{
    CFolderFixture fixture;
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("TMPDIR", fixture.Root().c_str(), 1);
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    CTemporaryFolder live;
    ASSERT_EQ(live.Create("job-"), 0);
    for (const char* name : {"job-killed", "job-recent", "other-killed"}) {
        fs::create_directories(fixture / name / "sub");
        fixture.Create(std::string(name) + "/sub/0.opus:10\n");
        if (std::string_view(name) != "job-recent") {
            fs::last_write_time(fixture / name, old);
        }
    }
    fs::last_write_time(live.Path(), old);

    CTemporaryFolder next;
    EXPECT_EQ(next.Create("job-"), 0);
    EXPECT_FALSE(fs::exists(fixture / "job-killed"));
    EXPECT_TRUE(fs::exists(fixture / "job-recent"));
    EXPECT_TRUE(fs::exists(fixture / "other-killed"));
    EXPECT_TRUE(fs::exists(live.Path()));
    EXPECT_TRUE(fs::exists(next.Path()));
    previous != nullptr ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
}

// The mount that holds a folder is found below it too, its mount point with a
// blank as it is; its identity stays when the same file system comes back and
// differs from the folder's own without it.
TEST(MountTableTest, TheMountOfAFolderAndItsIdentity)
{
    CFolderFixture fixture;
    fixture.Create("my player/\n");
    const std::string folder = (fixture / "my player").string();
    const std::optional<CMountEntry> before = MountOf(folder);
    ASSERT_TRUE(before);
    CScratchVolume volume;
    if (const std::string why = volume.Mount(fixture / "my player", 1000000); !why.empty()) {
        GTEST_SKIP() << why;
    }
    fixture.Create("my player/Music/\n");
    const std::optional<CMountEntry> mount = MountOf(folder + "/Music");
    ASSERT_TRUE(mount);
    EXPECT_EQ(mount->m_mountPoint, std::filesystem::canonical(folder).string());
    EXPECT_EQ(mount->m_type, "tmpfs");
    EXPECT_EQ(mount->m_source, "lyrafetch-test");
    const std::string identity = FileSystemIdentity(*mount);
    EXPECT_NE(identity, FileSystemIdentity(*before));

    volume.Unmount();
    EXPECT_FALSE(MountOf(folder + "/Music"));
    ASSERT_EQ(MountOf(folder)->m_mountPoint, before->m_mountPoint);
    ASSERT_EQ(volume.Mount(fixture / "my player", 1000000), "");
    EXPECT_EQ(FileSystemIdentity(*MountOf(folder)), identity);
}

// The serial number a FAT or exFAT card carries in its boot sector tells it
// from another in the same slot; anything else has none to read.
TEST(VolumeIdTest, SerialFromTheBootSector)
{
    CFolderFixture fixture;
    const struct
    {
        std::string m_format; // "" leaves the image as zeros
        std::string m_serial;
    } cases[] = {{"mkfs.vfat -F 32 -i 1A2B3C4D", "1A2B-3C4D"}, {"mkfs.vfat -F 16 -i 00C0FFEE", "00C0-FFEE"}, {"", ""}};
    for (const auto& [format, serial] : cases) {
        const fs::path image = fixture / "card.img";
        fs::remove(image);
        fixture.CreateFile("card.img", 0);
        fs::resize_file(image, 64 << 20);
        if (!format.empty() && std::system((format + " " + image.string() + " >/dev/null 2>&1").c_str()) != 0) {
            GTEST_SKIP() << "cannot run " << format;
        }
        EXPECT_EQ(SerialFromBootSector(image.string()), serial) << format;
    }
    EXPECT_EQ(SerialFromBootSector((fixture / "absent").string()), "");
    EXPECT_EQ(SerialFromBootSector("fusefat"), ""); // a driver's name, no device
}
