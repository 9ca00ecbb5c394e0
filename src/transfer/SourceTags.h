#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// What a converted file carries over from its source, as the source's tag
// library reads it: every text tag with all its values, the cover, the gain.
struct CSourceTags
{
    // Keys in the Vorbis comment style (ARTIST, TRACKNUMBER, MUSICBRAINZ_...),
    // each with every value it has, in the source's order.
    std::vector<std::pair<std::string, std::vector<std::string>>> m_tags;
    // The front cover's bytes as stored (or the first picture's), else the
    // folder's cover.jpg or folder.jpg; empty when there is none.
    std::string m_cover;
    std::string m_coverMime;
    // ReplayGain in dB, as REPLAYGAIN_TRACK_GAIN and _ALBUM_GAIN say.
    std::optional<double> m_trackGain;
    std::optional<double> m_albumGain;
    // 0 when the header does not say.
    int m_nSampleRate = 0;
    int m_nChannels = 0;
    // Whether the file holds a FLAC stream of its own (not in Ogg), whatever
    // its name.
    bool m_bFlacStream = false;
};

// Never fails: a source whose tags cannot be read gives no tags, and the
// decoder says whether its audio can be read.
CSourceTags ReadSourceTags(const std::string& sourcePath);

// Whether a key is one of the ReplayGain tags.
bool IsReplayGainKey(const std::string& key);

// Whether an MP4 file's audio is Apple Lossless.
bool IsAlac(const std::string& path);
