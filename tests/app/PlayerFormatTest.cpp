#include "app/PlayerFormat.h"

#include "support/FolderFixture.h"
#include "support/ScratchVolume.h"

#include <gtest/gtest.h>

#include <fstream>

TEST(PlayerFormatTest, OutputFormatsPreselectAProfileThePlayerPlays)
{
    struct CRow
    {
        const char* m_name;
        const char* m_text;
        const char* m_id; // nullptr: no profile preselected
    };
    const CRow rows[] = {
        {"MPEG", "[Device]\noutput_formats=audio/mpeg\n", "mp3-v2"},
        {"Opus in Ogg", "output_formats=audio/x-opus+ogg", "opus-128"},
        {"Ogg", "output_formats = audio/ogg ; audio/mpeg", "opus-128"},
        {"first usable in the file's order", "output_formats=audio/x-ms-wma,audio/mp4,audio/mpeg", "aac-192"},
        {"AAC, case and blanks", "OUTPUT_FORMATS= Audio/AAC ,", "aac-192"},
        {"FLAC anywhere: as they are", "output_formats=audio/mpeg;audio/flac", "copy"},
        {"nothing usable: as they are", "output_formats=audio/x-ms-wma", "copy"},
        {"empty list", "output_formats=", "copy"},
        {"a later line wins", "output_formats=audio/mpeg\r\noutput_formats=audio/ogg\r\n", "opus-128"},
        {"no output_formats", "[Device]\naudio_folders=Music/\n", nullptr},
        {"a key that only ends so", "video_output_formats=audio/mpeg", nullptr},
        {"empty file", "", nullptr},
    };
    for (const CRow& row : rows) {
        const CFormatProfile* profile = ProfileForPlayerFile(row.m_text);
        if (row.m_id == nullptr) {
            EXPECT_EQ(profile, nullptr) << row.m_name;
        } else {
            ASSERT_NE(profile, nullptr) << row.m_name;
            EXPECT_EQ(profile->m_id, row.m_id) << row.m_name;
        }
    }
}

TEST(PlayerFormatTest, CardRootFileBeforeThePlayerFoldersAndKeyByUuid)
{
    CFolderFixture fixture;
    fixture.Create("folder/Music/\ncard/\n");
    const auto write = [](const std::filesystem::path& path, const char* text) { std::ofstream(path) << text; };
    // On the fixture's file system the folder's own file counts, and the key is its path.
    const std::string folder = (fixture / "folder/Music").string();
    write(fixture / "folder/Music" / AUDIO_PLAYER_FILE, "output_formats=audio/mpeg");
    ASSERT_NE(PreselectedProfile(folder), nullptr);
    EXPECT_EQ(PreselectedProfile(folder)->m_id, "mp3-v2");
    EXPECT_EQ(PreselectedProfile((fixture / "folder").string()), nullptr);
    EXPECT_EQ(PlayerFormatKey(folder), "folder=" + std::filesystem::canonical(folder).string());

    CScratchVolume volume;
    if (const std::string failure = volume.MountExfat(fixture / "card", 4 << 20); !failure.empty()) {
        GTEST_SKIP() << "cannot mount an exFAT image here: " << failure;
    }
    const std::string music = (fixture / "card/Music").string();
    std::filesystem::create_directory(music);
    write(fixture / "card/Music" / AUDIO_PLAYER_FILE, "output_formats=audio/mpeg");
    write(fixture / "card" / AUDIO_PLAYER_FILE, "output_formats=audio/ogg");
    EXPECT_EQ(PreselectedProfile(music)->m_id, "opus-128");
    const std::string key = PlayerFormatKey(music);
    EXPECT_TRUE(key.starts_with("UUID=")) << key;
    EXPECT_EQ(PlayerFormatKey((fixture / "card").string()), key);
    EXPECT_EQ(PlayerFormatKey((fixture / "absent").string()), "");
}
