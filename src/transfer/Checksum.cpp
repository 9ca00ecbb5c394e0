#include "transfer/Checksum.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

constexpr std::uint64_t PRIME1 = 0x9E3779B185EBCA87;
constexpr std::uint64_t PRIME2 = 0xC2B2AE3D27D4EB4F;
constexpr std::uint64_t PRIME3 = 0x165667B19E3779F9;
constexpr std::uint64_t PRIME4 = 0x85EBCA77C2B2AE63;
constexpr std::uint64_t PRIME5 = 0x27D4EB2F165667C5;

// 8 or 4 bytes, the first the lowest.
template <typename Word> std::uint64_t LoadLittle(const unsigned char* bytes)
{
    Word word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, bytes, sizeof word);
    } else {
        for (int i = sizeof word - 1; i >= 0; --i) {
            word = static_cast<Word>(word << 8 | bytes[i]);
        }
    }
    return word;
}

std::uint64_t Round(std::uint64_t lane, std::uint64_t input)
{
    return std::rotl(lane + input * PRIME2, 31) * PRIME1;
}

std::uint64_t Merge(std::uint64_t hash, std::uint64_t lane)
{
    return (hash ^ Round(0, lane)) * PRIME1 + PRIME4;
}

} // namespace

void CChecksum::Add(const char* bytes, std::size_t size)
{
    const auto* input = reinterpret_cast<const unsigned char*>(bytes);
    m_nTotal += size;
    const auto stripe = [this](const unsigned char* data) {
        for (std::size_t lane = 0; lane < m_lanes.size(); ++lane) {
            m_lanes[lane] = Round(m_lanes[lane], LoadLittle<std::uint64_t>(data + 8 * lane));
        }
    };
    if (m_nPending > 0) {
        const std::size_t taken = std::min(size, STRIPE - m_nPending);
        std::memcpy(m_pending.data() + m_nPending, input, taken);
        m_nPending += taken;
        input += taken;
        size -= taken;
        if (m_nPending < STRIPE) {
            return;
        }
        stripe(m_pending.data());
        m_nPending = 0;
    }
    for (; size >= STRIPE; input += STRIPE, size -= STRIPE) {
        stripe(input);
    }
    std::memcpy(m_pending.data(), input, size);
    m_nPending = size;
}

std::uint64_t CChecksum::Digest() const
{
    std::uint64_t hash = PRIME5;
    if (m_nTotal >= STRIPE) {
        hash =
            std::rotl(m_lanes[0], 1) + std::rotl(m_lanes[1], 7) + std::rotl(m_lanes[2], 12) + std::rotl(m_lanes[3], 18);
        for (const std::uint64_t lane : m_lanes) {
            hash = Merge(hash, lane);
        }
    }
    hash += m_nTotal;
    const unsigned char* rest = m_pending.data();
    std::size_t at = 0;
    for (; at + 8 <= m_nPending; at += 8) {
        hash = std::rotl(hash ^ Round(0, LoadLittle<std::uint64_t>(&rest[at])), 27) * PRIME1 + PRIME4;
    }
    if (at + 4 <= m_nPending) {
        hash = std::rotl(hash ^ (LoadLittle<std::uint32_t>(&rest[at]) * PRIME1), 23) * PRIME2 + PRIME3;
        at += 4;
    }
    for (; at < m_nPending; ++at) {
        hash = std::rotl(hash ^ (rest[at] * PRIME5), 11) * PRIME1;
    }
    hash ^= hash >> 33;
    hash *= PRIME2;
    hash ^= hash >> 29;
    hash *= PRIME3;
    return hash ^ (hash >> 32);
}
