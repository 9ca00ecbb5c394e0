#include "transfer/Encoder.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

// The written file is checked in its container, not decoded again: decoding
// would cost about a tenth of the encoding's CPU once more, and what the check
// is for (a file cut short, a page or frame lost, the stream's length not the
// source's) shows in the container's own counts.

namespace {

using CBytes = std::string;

std::optional<CBytes> ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    const auto size = in.tellg();
    if (!in || size < 0) {
        return std::nullopt;
    }
    CBytes data(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(data.data(), size)) {
        return std::nullopt;
    }
    return data;
}

std::uint32_t Byte(const CBytes& data, std::size_t at)
{
    return static_cast<unsigned char>(data[at]);
}

std::uint64_t LittleEndian(const CBytes& data, std::size_t at, int nBytes)
{
    std::uint64_t value = 0;
    for (int i = nBytes - 1; i >= 0; --i) {
        value = value << 8 | Byte(data, at + i);
    }
    return value;
}

std::uint64_t BigEndian(const CBytes& data, std::size_t at, int nBytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < nBytes; ++i) {
        value = value << 8 | Byte(data, at + i);
    }
    return value;
}

int Fail(std::string& message, const std::string& path, const std::string& what)
{
    message = "The converted file " + path + " is damaged: " + what;
    return EIO;
}

int CheckLength(std::string& message, const std::string& path, std::uint64_t nHave, std::uint64_t nWant,
                std::uint64_t nFrame)
{
    const std::uint64_t nDiff = nHave > nWant ? nHave - nWant : nWant - nHave;
    if (nDiff >= nFrame) {
        return Fail(message, path, std::to_string(nHave) + " samples where the source has " + std::to_string(nWant));
    }
    return 0;
}

// Ogg's CRC-32: polynomial 0x04C11DB7, not reflected, starting from 0.
std::uint32_t OggCrc(const CBytes& data, std::size_t at, std::size_t size)
{
    static const auto TABLE = [] {
        std::array<std::uint32_t, 256> table{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t r = i << 24;
            for (int bit = 0; bit < 8; ++bit) {
                r = (r & 0x80000000U) != 0 ? r << 1 ^ 0x04C11DB7U : r << 1;
            }
            table[i] = r;
        }
        return table;
    }();
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        // The page's own CRC field counts as zero.
        const std::uint32_t byte = i >= 22 && i < 26 ? 0 : Byte(data, at + i);
        crc = crc << 8 ^ TABLE[(crc >> 24 ^ byte) & 0xFF];
    }
    return crc;
}

// The frames the encoders write: Opus 20 ms at 48 kHz, MP3 and AAC their only size.
constexpr std::uint64_t OPUS_FRAME = 960;
constexpr std::uint64_t MP3_FRAME = 1152;
constexpr std::uint64_t AAC_FRAME = 1024;

} // namespace

// Every page: its capture pattern, CRC, the one stream's sequence numbers
// without a gap, the end-of-stream mark on the last; then the last granule
// position less OpusHead's pre-skip is the length in 48 kHz samples.
int CheckOggOpus(const std::string& path, std::uint64_t nFrames, std::string& message)
{
    const auto data = ReadWhole(path);
    if (!data) {
        return Fail(message, path, "it cannot be read");
    }
    constexpr std::size_t HEADER = 27;
    std::size_t at = 0;
    std::uint64_t nSequence = 0;
    std::uint64_t granule = 0;
    std::uint64_t preSkip = 0;
    std::uint32_t lastFlags = 0;
    std::uint64_t serial = 0;
    while (at < data->size()) {
        if (data->size() - at < HEADER || data->compare(at, 4, "OggS") != 0 || Byte(*data, at + 4) != 0) {
            return Fail(message, path, "no Ogg page at byte " + std::to_string(at));
        }
        const std::size_t nSegments = Byte(*data, at + 26);
        if (data->size() - at < HEADER + nSegments) {
            return Fail(message, path, "the last page is cut short");
        }
        std::size_t size = HEADER + nSegments;
        for (std::size_t i = 0; i < nSegments; ++i) {
            size += Byte(*data, at + HEADER + i);
        }
        if (data->size() - at < size) {
            return Fail(message, path, "the last page is cut short");
        }
        if (OggCrc(*data, at, size) != LittleEndian(*data, at + 22, 4)) {
            return Fail(message, path, "a page's checksum is wrong at byte " + std::to_string(at));
        }
        if (nSequence == 0) {
            serial = LittleEndian(*data, at + 14, 4);
            const std::size_t body = at + HEADER + nSegments;
            if (size - (body - at) < 19 || data->compare(body, 8, "OpusHead") != 0) {
                return Fail(message, path, "it does not start with an Opus header");
            }
            preSkip = LittleEndian(*data, body + 10, 2);
        }
        if (LittleEndian(*data, at + 14, 4) != serial || LittleEndian(*data, at + 18, 4) != nSequence) {
            return Fail(message, path, "a page is missing before byte " + std::to_string(at));
        }
        lastFlags = Byte(*data, at + 5);
        granule = LittleEndian(*data, at + 6, 8);
        ++nSequence;
        at += size;
    }
    if ((lastFlags & 4) == 0) {
        return Fail(message, path, "the stream has no end");
    }
    if (granule < preSkip) {
        return Fail(message, path, "it holds no audio");
    }
    return CheckLength(message, path, granule - preSkip, nFrames, OPUS_FRAME);
}

namespace {

struct CMp3Frame
{
    std::size_t m_nSize = 0;
    std::uint64_t m_nSamples = 0;
    std::size_t m_nSideInfo = 0;
};

// A Layer III frame header at the byte, or nothing.
std::optional<CMp3Frame> Mp3Frame(const CBytes& data, std::size_t at)
{
    static constexpr std::array<int, 15> MPEG1_KBPS = {0,   32,  40,  48,  56,  64,  80, 96,
                                                       112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<int, 15> MPEG2_KBPS = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static constexpr std::array<int, 3> MPEG1_RATES = {44100, 48000, 32000};
    if (data.size() - at < 4 || Byte(data, at) != 0xFF || (Byte(data, at + 1) & 0xE6) != 0xE2) {
        return std::nullopt;
    }
    const std::uint32_t version = Byte(data, at + 1) >> 3 & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const std::uint32_t kbpsIndex = Byte(data, at + 2) >> 4;
    const std::uint32_t rateIndex = Byte(data, at + 2) >> 2 & 3;
    if (version == 1 || kbpsIndex == 0 || kbpsIndex == 15 || rateIndex == 3) {
        return std::nullopt;
    }
    const bool bMpeg1 = version == 3;
    const int rate = MPEG1_RATES[rateIndex] >> (bMpeg1 ? 0 : version == 2 ? 1 : 2);
    const int kbps = (bMpeg1 ? MPEG1_KBPS : MPEG2_KBPS)[kbpsIndex];
    const bool bMono = (Byte(data, at + 3) >> 6) == 3;
    CMp3Frame frame;
    frame.m_nSamples = bMpeg1 ? 1152 : 576;
    frame.m_nSize = static_cast<std::size_t>((bMpeg1 ? 144 : 72) * kbps * 1000 / rate) + (Byte(data, at + 2) >> 1 & 1);
    frame.m_nSideInfo = bMpeg1 ? (bMono ? 17 : 32) : (bMono ? 9 : 17);
    return frame;
}

// The LAME tag in the first frame: encoder delay and padding, in samples.
std::optional<std::uint64_t> LameTrim(const CBytes& data, std::size_t at, const CMp3Frame& frame)
{
    std::size_t tag = at + 4 + frame.m_nSideInfo;
    if (tag + 8 > at + frame.m_nSize || (data.compare(tag, 4, "Info") != 0 && data.compare(tag, 4, "Xing") != 0)) {
        return std::nullopt;
    }
    const auto flags = BigEndian(data, tag + 4, 4);
    std::size_t lame = tag + 8 + ((flags & 1) != 0 ? 4 : 0) + ((flags & 2) != 0 ? 4 : 0) +
                       ((flags & 4) != 0 ? 100 : 0) + ((flags & 8) != 0 ? 4 : 0);
    if (lame + 24 > at + frame.m_nSize || data.compare(lame, 4, "LAME") != 0) {
        return std::nullopt;
    }
    const auto packed = BigEndian(data, lame + 21, 3);
    return (packed >> 12) + (packed & 0xFFF);
}

} // namespace

// After the ID3v2 tag, frame after frame to the end of the file, no byte
// between; the first is LAME's tag, whose delay and padding the frames'
// samples less are the length.
int CheckMp3(const std::string& path, std::uint64_t nFrames, std::string& message)
{
    const auto data = ReadWhole(path);
    if (!data) {
        return Fail(message, path, "it cannot be read");
    }
    std::size_t at = 0;
    if (data->size() >= 10 && data->compare(0, 3, "ID3") == 0) {
        at = 10 +
             static_cast<std::size_t>(Byte(*data, 6) << 21 | Byte(*data, 7) << 14 | Byte(*data, 8) << 7 |
                                      Byte(*data, 9)) +
             ((Byte(*data, 5) & 0x10) != 0 ? 10 : 0);
    }
    const auto first = at < data->size() ? Mp3Frame(*data, at) : std::nullopt;
    const auto trim = first ? LameTrim(*data, at, *first) : std::nullopt;
    if (!trim) {
        return Fail(message, path, "it does not start with a LAME tag");
    }
    at += first->m_nSize;
    std::uint64_t nSamples = 0;
    while (at < data->size()) {
        const auto frame = Mp3Frame(*data, at);
        if (!frame || data->size() - at < frame->m_nSize) {
            return Fail(message, path, "no whole MP3 frame at byte " + std::to_string(at));
        }
        nSamples += frame->m_nSamples;
        at += frame->m_nSize;
    }
    if (nSamples < *trim) {
        return Fail(message, path, "it holds no audio");
    }
    return CheckLength(message, path, nSamples - *trim, nFrames, MP3_FRAME);
}

namespace {

// The boxes of an MP4 file that the check reads, found by their path.
struct CBox
{
    std::size_t m_nBody = 0;
    std::size_t m_nEnd = 0;
};

std::optional<CBox> FindBox(const CBytes& data, std::size_t from, std::size_t to, std::string_view type)
{
    while (to - from >= 8) {
        std::uint64_t size = BigEndian(data, from, 4);
        std::size_t header = 8;
        if (size == 1 && to - from >= 16) {
            size = BigEndian(data, from + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = to - from;
        }
        if (size < header || size > to - from) {
            return std::nullopt;
        }
        if (data.compare(from + 4, 4, type) == 0) {
            return CBox{from + header, from + static_cast<std::size_t>(size)};
        }
        from += static_cast<std::size_t>(size);
    }
    return std::nullopt;
}

std::optional<CBox> FindPath(const CBytes& data, std::initializer_list<std::string_view> path)
{
    CBox box{0, data.size()};
    for (const auto type : path) {
        const auto found = FindBox(data, box.m_nBody, box.m_nEnd, type);
        if (!found) {
            return std::nullopt;
        }
        box = *found;
    }
    return box;
}

} // namespace

// The audio track's sample table: every sample's size, which summed must lie
// in the file, and their durations, which less the edit list's priming are
// the length.
int CheckM4a(const std::string& path, std::uint64_t nFrames, std::string& message)
{
    const auto data = ReadWhole(path);
    if (!data) {
        return Fail(message, path, "it cannot be read");
    }
    const auto stts = FindPath(*data, {"moov", "trak", "mdia", "minf", "stbl", "stts"});
    const auto stsz = FindPath(*data, {"moov", "trak", "mdia", "minf", "stbl", "stsz"});
    const auto mdat = FindPath(*data, {"mdat"});
    if (!stts || !stsz || !mdat || stts->m_nEnd - stts->m_nBody < 8 || stsz->m_nEnd - stsz->m_nBody < 12) {
        return Fail(message, path, "it has no sample table");
    }
    const auto nEntries = BigEndian(*data, stts->m_nBody + 4, 4);
    if (nEntries > (stts->m_nEnd - stts->m_nBody - 8) / 8) {
        return Fail(message, path, "its sample table is cut short");
    }
    std::uint64_t nSamples = 0;
    std::uint64_t nCount = 0;
    for (std::uint64_t i = 0; i < nEntries; ++i) {
        const std::size_t entry = stts->m_nBody + 8 + static_cast<std::size_t>(i) * 8;
        nCount += BigEndian(*data, entry, 4);
        nSamples += BigEndian(*data, entry, 4) * BigEndian(*data, entry + 4, 4);
    }
    const auto fixedSize = BigEndian(*data, stsz->m_nBody + 4, 4);
    const auto nSizes = BigEndian(*data, stsz->m_nBody + 8, 4);
    if (nSizes != nCount || (fixedSize == 0 && nSizes > (stsz->m_nEnd - stsz->m_nBody - 12) / 4)) {
        return Fail(message, path, "its sample table is inconsistent");
    }
    std::uint64_t nBytes = fixedSize * nSizes;
    for (std::uint64_t i = 0; fixedSize == 0 && i < nSizes; ++i) {
        nBytes += BigEndian(*data, stsz->m_nBody + 12 + static_cast<std::size_t>(i) * 4, 4);
    }
    if (nBytes > mdat->m_nEnd - mdat->m_nBody) {
        return Fail(message, path, "its audio is cut short");
    }
    // The encoder's priming samples, which the edit list skips.
    std::uint64_t nPriming = 0;
    if (const auto elst = FindPath(*data, {"moov", "trak", "edts", "elst"});
        elst && elst->m_nEnd - elst->m_nBody >= 16 && BigEndian(*data, elst->m_nBody + 4, 4) >= 1) {
        nPriming = Byte(*data, elst->m_nBody) == 1 ? BigEndian(*data, elst->m_nBody + 16, 8)
                                                   : BigEndian(*data, elst->m_nBody + 12, 4);
    }
    if (nSamples < nPriming) {
        return Fail(message, path, "it holds no audio");
    }
    return CheckLength(message, path, nSamples - nPriming, nFrames, AAC_FRAME);
}
