#pragma once

#include "transfer/FormatProfile.h"

#include <atomic>
#include <cstdint>
#include <string>

// Whether a computer file is converted under a profile that converts: the
// lossless audio files (FLAC, WAV, AIFF, ALAC in .m4a, WavPack).
// By the name alone: .m4a holds AAC as often as ALAC, so it is not one.
bool IsLosslessAudio(const std::u16string& name);
// Whether the name is a .m4a's, which only the file's stream tells ALAC of.
bool IsM4a(const std::u16string& name);
// As IsLosslessAudio, and a .m4a file whose audio is ALAC.
bool IsLosslessAudioFile(const std::string& path, const std::u16string& name);

struct CConversion
{
    // 0, ECANCELED, or the error of the call that failed, with the text of
    // the log line that tells it.
    int m_nError = 0;
    std::string m_message;
    std::uint64_t m_nBytes = 0;
};

// Converts one lossless file into a new file at outputPath, on the computer,
// by the profile: audio, tags, cover and gain, checked after it is written.
// Stops within half a second of cancel turning true. Safe to call on several
// threads at once.
CConversion ConvertFile(const std::string& sourcePath, const CFormatProfile& profile, const std::string& outputPath,
                        const std::atomic<bool>& cancel);
