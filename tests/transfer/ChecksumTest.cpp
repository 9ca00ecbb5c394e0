#include "transfer/Checksum.h"

#include <gtest/gtest.h>

#include <string>

// The digests of XXH64 with seed 0, whatever pieces the bytes come in: a copy
// reads a file in buffers of one size, and the check reads it again in the
// buffers a short read leaves.
TEST(ChecksumTest, GivesXxh64OfTheBytesInAnyPieces)
{
    std::string bytes;
    for (int i = 0; i < 4 * 256; ++i) {
        bytes += static_cast<char>(i % 256);
    }
    bytes += "xyz";
    const struct
    {
        std::string m_bytes;
        std::uint64_t m_digest;
    } cases[] = {
        {"", 0xEF46DB3751D8E999}, {"a", 0xD24EC4F1A98C6E5B}, {"abc", 0x44BC2CF5AD770999}, {bytes, 0xE146CB31B65BC21A}};
    for (const auto& [text, digest] : cases) {
        for (const std::size_t piece :
             {std::size_t{1}, std::size_t{7}, std::size_t{32}, std::size_t{100}, text.size()}) {
            SCOPED_TRACE(std::to_string(text.size()) + " bytes in pieces of " + std::to_string(piece));
            CChecksum checksum;
            for (std::size_t at = 0; at < text.size(); at += piece) {
                checksum.Add(text.data() + at, std::min(piece, text.size() - at));
            }
            EXPECT_EQ(checksum.Digest(), digest);
        }
    }
}
