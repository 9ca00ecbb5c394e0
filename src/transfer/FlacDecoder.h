#pragma once

#include "transfer/Encoder.h"

#include <atomic>
#include <cstdint>
#include <string>

class CFile;

struct CFlacResult
{
    // 0, ECANCELED, or the error with the text of the log line that tells
    // it: what could not be decoded or read, or the encoder's message.
    int m_nError = 0;
    std::string m_message;
    std::uint64_t m_nFrames = 0;
};

// Decodes the FLAC stream read from the file at path, in the process (libFLAC), and
// hands its samples to the encoder as interleaved floats at the stream's own
// rate. The stream must have the format's rate and channel count in every
// frame, and as many sample frames as its header says when it says; a cut or
// damaged file does not decode. Stops within one FLAC frame of cancel.
CFlacResult DecodeFlac(CFile& file, const std::string& path, const CPcmFormat& format, IPcmEncoder& encoder,
                       const std::atomic<bool>& cancel);
