#include "transfer/SourceTags.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

struct CPicture
{
    std::string m_data;
    std::string m_mime;
};

std::string ToString(const TagLib::ByteVector& bytes)
{
    return {bytes.data(), bytes.size()};
}

// What the bytes are, whatever the source said: a JPEG stays a JPEG.
std::string MimeOf(const std::string& data)
{
    if (data.starts_with("\xFF\xD8\xFF")) {
        return "image/jpeg";
    }
    if (data.starts_with("\x89PNG")) {
        return "image/png";
    }
    return {};
}

std::optional<CPicture> FromFlac(TagLib::FLAC::File& file)
{
    std::optional<CPicture> chosen;
    for (const auto* picture : file.pictureList()) {
        if (!chosen || picture->type() == TagLib::FLAC::Picture::FrontCover) {
            chosen = CPicture{ToString(picture->data()), picture->mimeType().to8Bit()};
        }
        if (picture->type() == TagLib::FLAC::Picture::FrontCover) {
            break;
        }
    }
    return chosen;
}

std::optional<CPicture> FromId3v2(const TagLib::ID3v2::Tag* tag)
{
    std::optional<CPicture> chosen;
    if (tag == nullptr) {
        return chosen;
    }
    for (const auto* frame : tag->frameList("APIC")) {
        const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture == nullptr) {
            continue;
        }
        const bool bFront = picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover;
        if (!chosen || bFront) {
            chosen = CPicture{ToString(picture->picture()), picture->mimeType().to8Bit()};
        }
        if (bFront) {
            break;
        }
    }
    return chosen;
}

std::optional<CPicture> FromMp4(TagLib::MP4::File& file)
{
    const auto* tag = file.tag();
    if (tag == nullptr || !tag->contains("covr")) {
        return std::nullopt;
    }
    const auto covers = tag->item("covr").toCoverArtList();
    if (covers.isEmpty()) {
        return std::nullopt;
    }
    return CPicture{ToString(covers.front().data()), {}};
}

// APE's binary cover item: a file name, a zero, the image.
std::optional<CPicture> FromApe(const TagLib::APE::Tag* tag)
{
    if (tag == nullptr) {
        return std::nullopt;
    }
    const auto& items = tag->itemListMap();
    const auto found = items.find("COVER ART (FRONT)");
    if (found == items.end()) {
        return std::nullopt;
    }
    const std::string value = ToString(found->second.binaryData());
    const auto zero = value.find('\0');
    if (zero == std::string::npos) {
        return std::nullopt;
    }
    return CPicture{value.substr(zero + 1), {}};
}

std::optional<CPicture> EmbeddedCover(TagLib::File* file)
{
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        return FromFlac(*flac);
    }
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        return FromId3v2(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr);
    }
    if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        return FromId3v2(aiff->hasID3v2Tag() ? aiff->tag() : nullptr);
    }
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file)) {
        return FromMp4(*mp4);
    }
    if (auto* wavPack = dynamic_cast<TagLib::WavPack::File*>(file)) {
        return FromApe(wavPack->hasAPETag() ? wavPack->APETag() : nullptr);
    }
    return std::nullopt;
}

bool IsFolderCoverName(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name == "cover.jpg" || name == "folder.jpg";
}

// The album folder's cover.jpg, else its folder.jpg, case ignored.
std::optional<CPicture> FolderCover(const std::string& sourcePath)
{
    std::error_code error;
    const auto folder = std::filesystem::path(sourcePath).parent_path();
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, error)) {
        if (IsFolderCoverName(entry.path().filename().string()) && entry.is_regular_file(error)) {
            found.push_back(entry.path());
        }
    }
    if (found.empty()) {
        return std::nullopt;
    }
    // "cover" before "folder", whatever the case.
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tolower(a.filename().string()[0]) < std::tolower(b.filename().string()[0]);
    });
    std::ifstream in(found.front(), std::ios::binary);
    std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) {
        return std::nullopt;
    }
    return CPicture{std::move(data), "image/jpeg"};
}

// "-6.54 dB" as -6.54; nothing for text that starts with no number.
std::optional<double> ParseGain(const std::string& text)
{
    const char* first = text.data();
    const char* last = text.data() + text.size();
    while (first != last && (*first == ' ' || *first == '+')) {
        ++first;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc()) {
        return std::nullopt;
    }
    return value;
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

} // namespace

bool IsReplayGainKey(const std::string& key)
{
    return Upper(key).starts_with("REPLAYGAIN_");
}

CSourceTags ReadSourceTags(const std::string& sourcePath)
{
    CSourceTags tags;
    TagLib::FileRef ref(sourcePath.c_str(), true, TagLib::AudioProperties::Fast);
    if (!ref.isNull()) {
        for (const auto& [key, values] : ref.file()->properties()) {
            auto& [name, list] = tags.m_tags.emplace_back(Upper(key.to8Bit(true)), std::vector<std::string>());
            for (const auto& value : values) {
                list.push_back(value.to8Bit(true));
            }
            if (name == "REPLAYGAIN_TRACK_GAIN" && !list.empty()) {
                tags.m_trackGain = ParseGain(list.front());
            }
            if (name == "REPLAYGAIN_ALBUM_GAIN" && !list.empty()) {
                tags.m_albumGain = ParseGain(list.front());
            }
        }
        if (const auto* properties = ref.audioProperties()) {
            tags.m_nSampleRate = properties->sampleRate();
            tags.m_nChannels = properties->channels();
        }
        tags.m_bFlacStream = dynamic_cast<TagLib::FLAC::File*>(ref.file()) != nullptr;
    }
    auto cover = ref.isNull() ? std::nullopt : EmbeddedCover(ref.file());
    if (!cover || cover->m_data.empty()) {
        cover = FolderCover(sourcePath);
    }
    if (cover) {
        const std::string mime = MimeOf(cover->m_data);
        tags.m_coverMime = mime.empty() ? cover->m_mime : mime;
        tags.m_cover = std::move(cover->m_data);
    }
    return tags;
}

bool IsAlac(const std::string& path)
{
    TagLib::MP4::File file(path.c_str(), true, TagLib::AudioProperties::Fast);
    const auto* properties = file.isValid() ? file.audioProperties() : nullptr;
    return properties != nullptr && properties->codec() == TagLib::MP4::Properties::ALAC;
}
