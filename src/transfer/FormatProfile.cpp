#include "transfer/FormatProfile.h"

#include "transfer/ConvertWriter.h"
#include "transfer/PlainCopy.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<CFormatProfile, 10> PROFILES = {{
    {CPlainCopy::PLAIN_COPY_ID, "Copy files as they are", ECodec::Copy, u"", 0},
    {"opus-96", "Opus 96 kbps", ECodec::Opus, u".opus", 96},
    {"opus-128", "Opus 128 kbps", ECodec::Opus, u".opus", 128},
    {"opus-160", "Opus 160 kbps", ECodec::Opus, u".opus", 160},
    {"mp3-v0", "MP3 VBR V0 (LAME)", ECodec::Mp3, u".mp3", 0, 0},
    {"mp3-v2", "MP3 VBR V2 (LAME)", ECodec::Mp3, u".mp3", 0, 2},
    {"mp3-320", "MP3 320 kbps", ECodec::Mp3, u".mp3", 320},
    {"aac-128", "AAC 128 kbps (.m4a)", ECodec::Aac, u".m4a", 128},
    {"aac-192", "AAC 192 kbps (.m4a)", ECodec::Aac, u".m4a", 192},
    {"aac-256", "AAC 256 kbps (.m4a)", ECodec::Aac, u".m4a", 256},
}};

} // namespace

std::span<const CFormatProfile> FormatProfiles()
{
    return PROFILES;
}

const CFormatProfile& DefaultProfile()
{
    return PROFILES.front();
}

const CFormatProfile* FindProfile(std::string_view id)
{
    const auto* found = std::find_if(PROFILES.begin(), PROFILES.end(), [&](const auto& p) { return p.m_id == id; });
    return found != PROFILES.end() ? &*found : nullptr;
}

std::unique_ptr<IFileWriter> MakeWriter(const CFormatProfile& profile)
{
    if (profile.m_codec != ECodec::Copy) {
        return std::make_unique<CConvertWriter>(profile);
    }
    return std::make_unique<CPlainCopy>();
}
