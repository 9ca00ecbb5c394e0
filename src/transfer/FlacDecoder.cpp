#include "transfer/FlacDecoder.h"

#include "platform/FileSystem.h"

#include <FLAC/stream_decoder.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct CDecoderDeleter
{
    void operator()(FLAC__StreamDecoder* decoder) const { FLAC__stream_decoder_delete(decoder); }
};

// What the callbacks share with the loop that drives the decoder.
struct CFlacRun
{
    CFile& m_file;
    const std::string& m_path;
    const CPcmFormat& m_format;
    IPcmEncoder& m_encoder;
    CFlacResult m_result;
    std::uint64_t m_nTotalFrames = 0; // as the header says; 0 when it does not
    std::vector<float> m_samples;

    bool Undecodable(const std::string& reason) { return Failed(EIO, "Cannot decode " + m_path + ": " + reason); }

    bool Failed(int nError, std::string message)
    {
        if (m_result.m_nError == 0) {
            m_result.m_nError = nError;
            m_result.m_message = std::move(message);
        }
        return false;
    }
};

CFlacRun& RunOf(void* client)
{
    return *static_cast<CFlacRun*>(client);
}

FLAC__StreamDecoderReadStatus ReadBytes(const FLAC__StreamDecoder* /*decoder*/, FLAC__byte buffer[], size_t* bytes,
                                        void* client)
{
    CFlacRun& run = RunOf(client);
    std::size_t count = 0;
    if (const int nError = run.m_file.Read(reinterpret_cast<char*>(buffer), *bytes, count)) {
        run.Failed(nError, "Cannot read " + run.m_path + ": " + std::strerror(nError));
        *bytes = 0;
        return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    *bytes = count;
    return count == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderWriteStatus WriteFrame(const FLAC__StreamDecoder* /*decoder*/, const FLAC__Frame* frame,
                                          const FLAC__int32* const channels[], void* client)
{
    CFlacRun& run = RunOf(client);
    const FLAC__FrameHeader& header = frame->header;
    if (static_cast<int>(header.channels) != run.m_format.m_nChannels ||
        static_cast<int>(header.sample_rate) != run.m_format.m_nSampleRate) {
        run.Undecodable("its channels or rate change within the stream");
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    // Full scale of the frame's sample size is 1.0.
    const float scale = std::ldexp(1.0F, 1 - static_cast<int>(header.bits_per_sample));
    run.m_samples.resize(static_cast<std::size_t>(header.blocksize) * header.channels);
    float* out = run.m_samples.data();
    for (unsigned i = 0; i < header.blocksize; ++i) {
        for (unsigned c = 0; c < header.channels; ++c) {
            *out++ = static_cast<float>(channels[c][i]) * scale;
        }
    }
    if (const int nError = run.m_encoder.Write(run.m_samples)) {
        run.Failed(nError, run.m_encoder.Message());
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    run.m_result.m_nFrames += header.blocksize;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void ReadStreamInfo(const FLAC__StreamDecoder* /*decoder*/, const FLAC__StreamMetadata* metadata, void* client)
{
    if (metadata->type == FLAC__METADATA_TYPE_STREAMINFO) {
        RunOf(client).m_nTotalFrames = metadata->data.stream_info.total_samples;
    }
}

// libFLAC goes on after a damaged frame; the conversion does not. Bytes that
// are no frame after the last of the samples the header counts are a tag
// (ID3v1, APE) or padding, not damage to the audio.
void NoteError(const FLAC__StreamDecoder* /*decoder*/, FLAC__StreamDecoderErrorStatus status, void* client)
{
    CFlacRun& run = RunOf(client);
    const bool bAfterTheAudio = run.m_nTotalFrames != 0 && run.m_result.m_nFrames == run.m_nTotalFrames;
    if (status != FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC || !bAfterTheAudio) {
        run.Undecodable(FLAC__StreamDecoderErrorStatusString[status]);
    }
}

// Decodes frame by frame, looking at cancel between two.
bool DecodeAll(FLAC__StreamDecoder* decoder, const std::atomic<bool>& cancel, CFlacRun& run)
{
    while (FLAC__stream_decoder_get_state(decoder) != FLAC__STREAM_DECODER_END_OF_STREAM) {
        if (cancel.load()) {
            return run.Failed(ECANCELED, "Cancelled");
        }
        if (!FLAC__stream_decoder_process_single(decoder) || run.m_result.m_nError != 0) {
            return run.Undecodable(FLAC__stream_decoder_get_resolved_state_string(decoder));
        }
    }
    if (run.m_result.m_nFrames == 0) {
        return run.Undecodable("it holds no audio");
    }
    if (run.m_nTotalFrames != 0 && run.m_result.m_nFrames != run.m_nTotalFrames) {
        return run.Undecodable("it ends after " + std::to_string(run.m_result.m_nFrames) + " of its " +
                               std::to_string(run.m_nTotalFrames) + " samples");
    }
    return true;
}

} // namespace

CFlacResult DecodeFlac(CFile& file, const std::string& path, const CPcmFormat& format, IPcmEncoder& encoder,
                       const std::atomic<bool>& cancel)
{
    CFlacRun run{file, path, format, encoder, {}, 0, {}};
    const std::unique_ptr<FLAC__StreamDecoder, CDecoderDeleter> decoder(FLAC__stream_decoder_new());
    if (!decoder) {
        run.Failed(ENOMEM, "Cannot start the FLAC decoder");
        return run.m_result;
    }
    if (FLAC__stream_decoder_init_stream(decoder.get(), ReadBytes, nullptr, nullptr, nullptr, nullptr, WriteFrame,
                                         ReadStreamInfo, NoteError, &run) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        run.Failed(EIO, "Cannot start the FLAC decoder");
        return run.m_result;
    }
    DecodeAll(decoder.get(), cancel, run);
    FLAC__stream_decoder_finish(decoder.get());
    return run.m_result;
}
