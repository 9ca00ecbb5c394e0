#pragma once

#include <memory>
#include <span>
#include <string_view>

// The format a player's files are written in: the computer's files as they
// are, or lossless ones converted by an encoder at a setting.
enum class ECodec { Copy, Opus, Mp3, Aac };

struct CFormatProfile
{
    // Names the profile in settings and, as the writer's id, in manifests.
    std::string_view m_id;
    // As the chooser shows it.
    std::string_view m_label;
    ECodec m_codec = ECodec::Copy;
    // The extension a converted file takes, with its dot.
    std::u16string_view m_extension;
    // The bitrate in kbit/s of a constant or average rate; for LAME's VBR the
    // quality (V0, V2) is in m_nLameQuality and this is 0.
    int m_nKbps = 0;
    int m_nLameQuality = -1;
};

class IFileWriter;

// Every profile, "Copy files as they are" first (the default).
std::span<const CFormatProfile> FormatProfiles();
const CFormatProfile& DefaultProfile();
// Nothing for an id no profile has.
const CFormatProfile* FindProfile(std::string_view id);
// A new writer of the profile's format, for one job or for the window's
// questions of names and sizes.
std::unique_ptr<IFileWriter> MakeWriter(const CFormatProfile& profile);
