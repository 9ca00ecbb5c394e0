#include "transfer/Encoder.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include <cerrno>

namespace {

TagLib::String Utf8(const std::string& text)
{
    return {text, TagLib::String::UTF8};
}

TagLib::StringList Values(const std::vector<std::string>& values)
{
    TagLib::StringList list;
    for (const auto& value : values) {
        list.append(Utf8(value));
    }
    return list;
}

// The source's tags with all their values. The source's encoder no longer
// applies; ReplayGain is written in each format's own form.
TagLib::PropertyMap Properties(const CSourceTags& tags, bool bReplayGain)
{
    TagLib::PropertyMap map;
    for (const auto& [key, values] : tags.m_tags) {
        if (key != "ENCODER" && (bReplayGain || !IsReplayGainKey(key))) {
            map.insert(Utf8(key), Values(values));
        }
    }
    return map;
}

int Failed(std::string& message, const std::string& path)
{
    message = "Cannot write the tags of " + path;
    return EIO;
}

// TagLib's MP4 tag maps the keys it knows to atoms and drops the others;
// these are iTunes's freeform names for them, as players of .m4a read them.
std::string FreeformName(const std::string& key)
{
    std::string name = key;
    if (IsReplayGainKey(key)) {
        for (auto& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return "----:com.apple.iTunes:" + name;
}

} // namespace

// ID3v2.4, where a text frame holds several values; ReplayGain as the TXXX
// frames REPLAYGAIN_* that MP3 players read.
int WriteMp3Tags(const std::string& path, const CSourceTags& tags, std::string& message)
{
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.isValid()) {
        return Failed(message, path);
    }
    auto* tag = file.ID3v2Tag(true);
    tag->setProperties(Properties(tags, true));
    if (!tags.m_cover.empty()) {
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setMimeType(Utf8(tags.m_coverMime));
        picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        picture->setPicture(TagLib::ByteVector(tags.m_cover.data(), static_cast<unsigned>(tags.m_cover.size())));
        tag->addFrame(picture);
    }
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4)) {
        return Failed(message, path);
    }
    return 0;
}

int WriteMp4Tags(const std::string& path, const CSourceTags& tags, std::string& message)
{
    TagLib::MP4::File file(path.c_str(), false);
    if (!file.isValid()) {
        return Failed(message, path);
    }
    auto* tag = file.tag();
    const auto unsupported = tag->setProperties(Properties(tags, false));
    for (const auto& [key, values] : unsupported) {
        tag->setItem(FreeformName(key.to8Bit(true)), TagLib::MP4::Item(values));
    }
    for (const auto& [key, values] : tags.m_tags) {
        if (IsReplayGainKey(key)) {
            tag->setItem(FreeformName(key), TagLib::MP4::Item(Values(values)));
        }
    }
    if (!tags.m_cover.empty()) {
        const auto format = tags.m_coverMime == "image/png" ? TagLib::MP4::CoverArt::PNG : TagLib::MP4::CoverArt::JPEG;
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(
            format, TagLib::ByteVector(tags.m_cover.data(), static_cast<unsigned>(tags.m_cover.size()))));
        tag->setItem("covr", TagLib::MP4::Item(covers));
    }
    if (!file.save()) {
        return Failed(message, path);
    }
    return 0;
}
