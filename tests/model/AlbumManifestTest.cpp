#include "model/AlbumManifest.h"

#include <gtest/gtest.h>

namespace {

CAlbumManifest OddManifest()
{
    // Names a Linux folder holds freely: a tab, a line break, "%", a byte that
    // is not UTF-8 (the lone surrogate the file system's names use for it).
    return {"opus-128",
            {{u"01 Tab_.opus", u"01 Tab\t.flac", 31'000'000, 1'700'000'000'123'456'789},
             {u"02 Line.opus", u"02 Line\n100%.flac", 0, -5},
             {std::u16string(u"03 \xDCFF.mp3"), std::u16string(u"03 \xDCFF.mp3"), 42, 0}}};
}

TEST(AlbumManifestTest, ReadsBackWhatItWrote)
{
    const CAlbumManifest manifest = OddManifest();
    const std::string text = SerializeManifest(manifest);
    EXPECT_EQ(text.find_first_of("\r\x7F"), std::string::npos);
    // One line for the header, the writer, each file and the end.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    EXPECT_EQ(ParseManifest(text), manifest);
    EXPECT_EQ(ParseManifest(SerializeManifest({"copy", {}})), (CAlbumManifest{"copy", {}}));
}

TEST(AlbumManifestTest, WhatIsNotAWholeManifestIsNone)
{
    const std::string text = SerializeManifest(OddManifest());
    // Cut short anywhere, as a card pulled out mid-write leaves it.
    for (std::size_t length = 0; length < text.size(); ++length) {
        EXPECT_FALSE(ParseManifest(std::string_view(text).substr(0, length))) << length;
    }
    auto edited = [&](std::string_view from, std::string_view to) {
        std::string copy = text;
        copy.replace(copy.find(from), from.size(), to);
        return ParseManifest(copy);
    };
    EXPECT_FALSE(edited("lyrafetch-album 1", "lyrafetch-album 2"));
    EXPECT_FALSE(edited("end\t3", "end\t2"));
    EXPECT_FALSE(edited("\t42\t", "\t4x2\t"));
    EXPECT_FALSE(edited("\t42\t", "\t\t"));
    EXPECT_FALSE(edited("%09", "%0"));
    EXPECT_FALSE(edited("%09", "%G9"));
    EXPECT_FALSE(edited("\t0\t-5", "\t0"));
}

} // namespace
