#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// A fast checksum of a stream of bytes, not for security: XXH64 with seed 0,
// fed in pieces of any size. Tells a file's bytes read once from the same
// file's bytes read again.
class CChecksum
{
public:
    void Add(const char* bytes, std::size_t size);
    std::uint64_t Digest() const;

private:
    static constexpr std::size_t STRIPE = 32;

    std::array<std::uint64_t, 4> m_lanes = {0x60EA27EEADC0B5D6, 0xC2B2AE3D27D4EB4F, 0, 0x61C8864E7A143579};
    std::array<unsigned char, STRIPE> m_pending{};
    std::size_t m_nPending = 0;
    std::uint64_t m_nTotal = 0;
};
