#include "transfer/ConvertWriter.h"

#include "platform/SystemError.h"
#include "text/Unicode.h"
#include "transfer/CopyLog.h"
#include "transfer/JobContext.h"

#include <taglib/aifffile.h>
#include <taglib/apetag.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <algorithm>
#include <cerrno>

namespace {

using ECall = CJobContext::ECall;

std::uint64_t Id3v2PictureBytes(TagLib::ID3v2::Tag* tag)
{
    std::uint64_t bytes = 0;
    if (tag != nullptr) {
        for (const TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
            bytes += frame->size();
        }
    }
    return bytes;
}

// The bytes of the pictures a source holds, in each container's own form.
std::uint64_t EmbeddedPictureBytes(TagLib::File* file)
{
    std::uint64_t bytes = 0;
    if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        for (const TagLib::FLAC::Picture* picture : flac->pictureList()) {
            bytes += picture->data().size() + picture->mimeType().size() + picture->description().size();
        }
    } else if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file); mp4 != nullptr && mp4->tag() != nullptr) {
        for (const TagLib::MP4::CoverArt& cover : mp4->tag()->item("covr").toCoverArtList()) {
            bytes += cover.data().size();
        }
    } else if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        bytes = Id3v2PictureBytes(wav->ID3v2Tag());
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        bytes = Id3v2PictureBytes(aiff->tag());
    } else if (auto* wavPack = dynamic_cast<TagLib::WavPack::File*>(file); wavPack != nullptr && wavPack->APETag()) {
        for (const auto& [key, item] : wavPack->APETag()->itemListMap()) {
            if (item.type() == TagLib::APE::Item::Binary) {
                bytes += item.binaryData().size();
            }
        }
    }
    return bytes;
}

// The largest of the album's own cover files, which a source without a
// picture of its own takes.
std::uint64_t FolderCoverBytes(const CFolderNode& album)
{
    std::uint64_t bytes = 0;
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        if (FoldCaseAsFat(entry.m_name) == FoldCaseAsFat(u"cover.jpg") ||
            FoldCaseAsFat(entry.m_name) == FoldCaseAsFat(u"folder.jpg")) {
            bytes = std::max(bytes, entry.m_size);
        }
    }
    return bytes;
}

// What bounds the audio bitrate, in kbit/s. libopus and FFmpeg's AAC encoder
// keep an average near the target, measured within 4 % on noise and on pure
// tones, short and long: a quarter more bounds it. LAME's VBR frames, and so
// any average of them, are at most 320 kbit/s, MPEG-1 Layer III's largest.
int BoundKbps(const CFormatProfile& profile)
{
    switch (profile.m_codec) {
    case ECodec::Opus:
    case ECodec::Aac:
        return profile.m_nKbps + profile.m_nKbps / 4;
    case ECodec::Mp3:
        return 320;
    case ECodec::Copy:
        break;
    }
    return 0;
}

// The bytes around the audio: headers, the encoder's own tags and gain, and a
// container's pages or tables, about 1 % of the audio.
constexpr std::uint64_t CONTAINER_BYTES = 16 * 1024;
// Each tag written again as text: at most two bytes for each byte of its
// value (UTF-16 in ID3v2), with its frame's or atom's header.
constexpr std::uint64_t TAG_HEADER_BYTES = 32;

} // namespace

CConvertWriter::CConvertWriter(const CFormatProfile& profile, ConvertFunction convert)
    : m_profile(profile), m_convert(std::move(convert))
{
}

CConvertWriter::~CConvertWriter() = default;

std::u16string CConvertWriter::PlayerFileName(const CFolderNode& album, const CFileEntry& source) const
{
    std::u16string name = PlayerName(source.m_name);
    if (Converts(ToNativePath(ComputerFilePath(album, source)), source)) {
        name.replace(name.rfind(u'.'), std::u16string::npos, m_profile.m_extension);
    }
    return name;
}

std::uint64_t CConvertWriter::ExpectedBytes(const CFolderNode& album, const CFileEntry& source) const
{
    const std::string path = ToNativePath(ComputerFilePath(album, source));
    if (!Converts(path, source)) {
        return source.m_size;
    }
    {
        const std::lock_guard lock(m_factsMutex);
        if (const std::optional<std::uint64_t> known = FactsLocked(path, source).m_nBytes) {
            return *known;
        }
    }
    const std::uint64_t bytes = EstimateBytes(album, source, path);
    const std::lock_guard lock(m_factsMutex);
    FactsLocked(path, source).m_nBytes = bytes;
    return bytes;
}

bool CConvertWriter::Converts(const std::string& path, const CFileEntry& source) const
{
    if (!IsM4a(source.m_name)) {
        return IsLosslessAudio(source.m_name);
    }
    {
        const std::lock_guard lock(m_factsMutex);
        if (const std::optional<bool> known = FactsLocked(path, source).m_bConverts) {
            return *known;
        }
    }
    // A .m4a whose stream cannot be read is copied as it is, as AAC is.
    const bool converts = IsLosslessAudioFile(path, source.m_name);
    const std::lock_guard lock(m_factsMutex);
    FactsLocked(path, source).m_bConverts = converts;
    return converts;
}

CConvertWriter::CSourceFacts& CConvertWriter::FactsLocked(const std::string& path, const CFileEntry& source) const
{
    CSourceFacts& facts = m_facts[path];
    if (facts.m_nSize != source.m_size || facts.m_nModified != source.m_modified) {
        facts = CSourceFacts{source.m_size, source.m_modified, std::nullopt, std::nullopt};
    }
    return facts;
}

// A file whose stream cannot be read fails its conversion: its size stands
// in, as for a copy. What is not a regular file is never opened by TagLib,
// which would wait on a pipe for a writer for ever.
std::uint64_t CConvertWriter::EstimateBytes(const CFolderNode& album, const CFileEntry& source,
                                            const std::string& path) const
{
    if (CFile regular; regular.OpenRead(FromNativeName(path)) != 0) {
        return source.m_size;
    }
    const TagLib::FileRef ref(path.c_str(), true, TagLib::AudioProperties::Average);
    if (ref.isNull() || ref.audioProperties() == nullptr) {
        return source.m_size;
    }
    const auto milliseconds = static_cast<std::uint64_t>(std::max(0, ref.audioProperties()->lengthInMilliseconds()));
    std::uint64_t bytes = milliseconds * static_cast<std::uint64_t>(BoundKbps(m_profile)) / 8 + CONTAINER_BYTES;
    for (const auto& [key, values] : ref.file()->properties()) {
        for (const TagLib::String& value : values) {
            bytes += TAG_HEADER_BYTES + key.size() + 2 * value.to8Bit(true).size();
        }
    }
    std::uint64_t picture = EmbeddedPictureBytes(ref.file());
    if (picture == 0) {
        picture = FolderCoverBytes(album);
    }
    // Opus keeps its picture in base64 text, four bytes for every three.
    return bytes + (m_profile.m_codec == ECodec::Opus ? (picture + 2) / 3 * 4 : picture) + CONTAINER_BYTES;
}

int CConvertWriter::Open(const CFileToWrite& file)
{
    // By the facts that named the file on the player.
    m_bConverting = Converts(ToNativePath(file.m_sourcePath), file.m_source);
    if (!m_bConverting) {
        return m_plainCopy.Open(file);
    }
    CFile source; // the converter reads it itself; a source gone fails here, as a copy's does
    return source.OpenRead(file.m_sourcePath);
}

bool CConvertWriter::Write(const CFileToWrite& file, CFile& output, CJobContext& context, std::uint64_t& written)
{
    return m_bConverting ? WriteConverted(file, output, context, written)
                         : m_plainCopy.Write(file, output, context, written);
}

void CConvertWriter::BeginPass(const CFolderNode& root)
{
    std::vector<std::string> sources;
    const auto plan = [&](const auto& self, const CFolderNode& node) -> void {
        // A refresh writes its album's new version as a copy does, in the same walk.
        if (node.IsAlbumToCopy() || node.IsAlbumToRefresh()) {
            for (const CFileEntry& entry : node.m_files[SIDE_COMPUTER]) {
                if (std::string path = ToNativePath(ComputerFilePath(node, entry)); Converts(path, entry)) {
                    sources.push_back(std::move(path));
                }
            }
        }
        for (const auto& child : node.m_children) {
            self(self, *child);
        }
    };
    plan(plan, root);
    m_pPool = std::make_unique<CConversionPool>(m_profile, m_convert, std::move(sources));
}

void CConvertWriter::EndPass()
{
    m_pPool.reset();
}

// Waits for the file's conversion, then checks that the player has room for
// the converted file as it is, whatever the estimate said: an album that no
// longer fits fails as on a full disk, before any of the file is written.
bool CConvertWriter::WriteConverted(const CFileToWrite& file, CFile& output, CJobContext& context,
                                    std::uint64_t& written)
{
    written = 0;
    if (m_pPool == nullptr) {
        // A write outside a copy pass: each file is converted as it comes.
        m_pPool = std::make_unique<CConversionPool>(m_profile, m_convert, std::vector<std::string>());
    }
    std::string converted;
    const CConversion result = m_pPool->Wait(
        ToNativePath(file.m_sourcePath), [&] { return CheckCancel(context.m_log); }, converted);
    if (CheckCancel(context.m_log)) {
        return false;
    }
    if (result.m_nError != 0) {
        CheckDiskFull(context.m_log, result.m_nError);
        context.m_log.Add(LOG_ERROR, "Reading \"%s\" : Error %s", file.m_sourceDisplay,
                          result.m_message.empty() ? SystemErrorText(result.m_nError) : result.m_message);
        return false;
    }
    const bool copied = CopyConverted(file, converted, output, context, written);
    m_pPool->Release(converted);
    return copied;
}

bool CConvertWriter::CopyConverted(const CFileToWrite& file, const std::string& converted, CFile& output,
                                   CJobContext& context, std::uint64_t& written)
{
    const std::u16string path = FromNativeName(converted);
    CFileStamp stamp;
    if (const int error = GetFileStamp(path, stamp)) {
        context.ComputerFailure("Reading \"%s\" : Error %s", file.m_sourceDisplay, error);
        return false;
    }
    std::uint64_t available = 0;
    std::uint64_t unit = 1;
    if (output.GetVolumeSpace(available, unit) == 0 && (stamp.m_size + unit - 1) / unit * unit > available) {
        context.PlayerFailure(ECall::Write, "Writing \"%s\" : Error %s", file.m_destinationDisplay, ENOSPC);
        return false;
    }
    const CFileEntry entry{file.m_source.m_name, stamp.m_size, stamp.m_modified};
    const CFileToWrite temporary{entry, path, file.m_sourceDisplay, file.m_destinationDisplay};
    if (const int error = m_plainCopy.Open(temporary)) {
        context.ComputerFailure("Reading \"%s\" : Error %s", file.m_sourceDisplay, error);
        return false;
    }
    return m_plainCopy.Write(temporary, output, context, written);
}
