#pragma once

#include "platform/FileSystem.h"
#include "transfer/Converter.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// How one file is converted: ConvertFile, or a stand-in of the same form.
using ConvertFunction = std::function<CConversion(const std::string& sourcePath, const CFormatProfile& profile,
                                                  const std::string& outputPath, const std::atomic<bool>& cancel)>;

// Converts the lossless files of a job ahead of its writes, on one worker for
// each core at lower priority, into a temporary folder of its own on the
// computer. The files are planned in the order of the writes; a worker starts
// the first one not started while it lies less than LOOKAHEAD_PER_WORKER files
// per worker past the one being written, which bounds the temporary bytes.
// Planned files that the writes pass over are dropped. A cancel of the job
// reaches every conversion within a twentieth of a second, through the
// converter's own cancel flag.
class CConversionPool
{
public:
    // sources: the native paths of the files to convert, in the order of the writes.
    CConversionPool(const CFormatProfile& profile, ConvertFunction convert, std::vector<std::string> sources);
    // Stops every conversion, waits for the workers, removes the folder.
    ~CConversionPool();
    CConversionPool(const CConversionPool&) = delete;
    CConversionPool& operator=(const CConversionPool&) = delete;

    // Waits until source is converted, into a file whose path it sets in
    // output. A source the plan lacks is converted next. Planned files before
    // it that were never waited for are dropped. canceled is asked every
    // 50 ms while it waits; when it says true, the result is ECANCELED.
    CConversion Wait(const std::string& source, const std::function<bool()>& canceled, std::string& output);
    // The converted file has been written where it belongs: it goes.
    void Release(const std::string& output);

    // The files being converted at once, at most.
    std::size_t Workers() const { return m_nWorkers; }

private:
    enum class EState { Waiting, Running, Done, Dropped };
    struct CTask
    {
        std::string m_source;
        std::string m_output;
        EState m_state = EState::Waiting;
        CConversion m_result;
        std::atomic<bool> m_bCancel{false};
    };

    std::size_t AddTask(std::string source);
    void Work();
    // The next task a worker may start, or nullptr; the lock is held.
    CTask* NextTask();
    void Drop(CTask& task);
    void WatchCancel();

    static constexpr std::size_t LOOKAHEAD_PER_WORKER = 4;

    const CFormatProfile& m_profile;
    ConvertFunction m_convert;
    CTemporaryFolder m_folder;
    int m_nFolderError = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<CTask>> m_tasks;
    std::unordered_map<std::string, std::size_t> m_index;
    // The first task past the last one waited for, and the first one no
    // worker has taken yet; sources the plan lacked, to be taken first.
    std::size_t m_nWriting = 0;
    std::size_t m_nNext = 0;
    std::deque<std::size_t> m_urgent;
    bool m_bStop = false;
    bool m_bCanceled = false;

    // Set before the first worker starts, read by all of them: the vector of
    // threads grows while the first ones already work.
    std::size_t m_nWorkers = 0;
    std::vector<std::thread> m_workers;
    std::thread m_cancelWatch;
};
