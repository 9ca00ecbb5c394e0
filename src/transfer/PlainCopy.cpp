#include "transfer/PlainCopy.h"

#include "transfer/CopyLog.h"
#include "transfer/JobContext.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

std::uint64_t ExpectedAlbumBytes(const IFileWriter& writer, const CFolderNode& album)
{
    std::uint64_t bytes = 0;
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        bytes += writer.ExpectedBytes(album, entry);
    }
    return bytes;
}

std::u16string ComputerFilePath(const CFolderNode& album, const CFileEntry& source)
{
    return LONG_PATH_PREFIX + album.GetPath(SIDE_COMPUTER, false) + PATH_SEPARATOR + source.m_name;
}

int CPlainCopy::Open(const CFileToWrite& file)
{
    m_copied = CCopiedSource();
    m_copied.m_nStart =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    m_input = CFile();
    int error = m_input.OpenRead(file.m_sourcePath);
    if (error == 0) {
        error = m_input.GetStamp(m_copied.m_before);
    }
    return error;
}

bool CPlainCopy::Write(const CFileToWrite& file, CFile& output, CJobContext& context, std::uint64_t& written)
{
    bool copied = CopyBytes(file, output, context);
    if (copied) {
        if (const int error = SourceHeld(file)) {
            context.ComputerFailure("Reading \"%s\" : Error %s", file.m_sourceDisplay, error);
            copied = false;
        }
    }
    written = m_copied.m_nBytes;
    m_input = CFile();
    return copied;
}

// Copies until a read returns no more. The cancel state is read between
// buffers, so that one big file does not hold a cancel back; the album is
// then taken away like any canceled one.
bool CPlainCopy::CopyBytes(const CFileToWrite& file, CFile& output, CJobContext& context)
{
    for (;;) {
        std::size_t count = 0;
        if (const int error = m_input.Read(m_buffer.get(), COPY_BUFFER_SIZE, count)) {
            context.ComputerFailure("Reading \"%s\" : Error %s", file.m_sourceDisplay, error);
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (const int error = output.Write(m_buffer.get(), count)) {
            context.PlayerFailure(CJobContext::ECall::Write, "Writing \"%s\" : Error %s", file.m_destinationDisplay,
                                  error);
            return false;
        }
        m_copied.m_checksum.Add(m_buffer.get(), count);
        m_copied.m_nBytes += count;
        context.m_log.m_nBytesCopied += count;
        if (CheckCancel(context.m_log)) {
            return false;
        }
    }
}

// A file that changed since the scan, or while it was read, is not the file
// that was chosen, and its copy would be torn or short: the bytes read must be
// the size the scan saw, and the file, by its descriptor and by its path, the
// same after the copy as before it. A file whose times lie within its file
// system's granularity of the copy can have been written meanwhile without
// its times showing it: it is read once more and must give the same checksum.
// Returns 0, ESTALE, or the error of a call.
int CPlainCopy::SourceHeld(const CFileToWrite& file)
{
    CFileStamp after;
    CFileStamp atPath;
    int error = m_input.GetStamp(after);
    if (error == 0) {
        error = GetFileStamp(file.m_sourcePath, atPath);
    }
    if (error != 0) {
        return error;
    }
    if (m_copied.m_nBytes != file.m_source.m_size || after != m_copied.m_before || atPath != m_copied.m_before) {
        return ESTALE;
    }
    const std::int64_t granularity = m_input.TimeGranularity();
    const std::int64_t latest = std::max(m_copied.m_before.m_modified, m_copied.m_before.m_changed);
    if (granularity != TIMES_NEVER_MOVE && latest < m_copied.m_nStart - granularity) {
        return 0;
    }
    CChecksum again;
    std::uint64_t bytes = 0;
    error = m_input.Rewind();
    for (std::size_t count = 1; error == 0 && count != 0;) {
        if ((error = m_input.Read(m_buffer.get(), COPY_BUFFER_SIZE, count)) == 0) {
            again.Add(m_buffer.get(), count);
            bytes += count;
        }
    }
    if (error != 0) {
        return error;
    }
    return bytes == m_copied.m_nBytes && again.Digest() == m_copied.m_checksum.Digest() ? 0 : ESTALE;
}
