#include "transfer/ConversionPool.h"

#include "platform/SystemError.h"
#include "platform/ThreadPriority.h"
#include "transfer/CopyLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <utility>

namespace {

// How often the cancel state of the job is looked at, for the workers and for
// a write waiting for its file.
constexpr std::chrono::milliseconds CANCEL_POLL{50};

void RemoveOutput(const std::string& path)
{
    // A file that cannot go now goes with the folder at the end.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

CConversionPool::CConversionPool(const CFormatProfile& profile, ConvertFunction convert,
                                 std::vector<std::string> sources)
    : m_profile(profile), m_convert(std::move(convert))
{
    m_nFolderError = m_folder.Create("lyrafetch-convert-");
    for (std::string& source : sources) {
        AddTask(std::move(source));
    }
    if (m_nFolderError != 0) {
        return; // every wait reports it
    }
    m_nWorkers = std::max(1u, std::thread::hardware_concurrency());
    for (std::size_t index = 0; index < m_nWorkers; ++index) {
        m_workers.emplace_back([this] { Work(); });
    }
    m_cancelWatch = std::thread([this] { WatchCancel(); });
}

CConversionPool::~CConversionPool()
{
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
        for (const auto& task : m_tasks) {
            task->m_bCancel = true;
        }
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers) {
        worker.join();
    }
    if (m_cancelWatch.joinable()) {
        m_cancelWatch.join();
    }
}

std::size_t CConversionPool::AddTask(std::string source)
{
    const std::size_t index = m_tasks.size();
    auto task = std::make_unique<CTask>();
    std::string extension;
    for (const char16_t unit : m_profile.m_extension) {
        extension += static_cast<char>(unit); // the profiles' extensions are ASCII
    }
    task->m_output = m_folder.Path() + "/" + std::to_string(index) + extension;
    m_index.emplace(source, index);
    task->m_source = std::move(source);
    m_tasks.push_back(std::move(task));
    return index;
}

CConversion CConversionPool::Wait(const std::string& source, const std::function<bool()>& canceled, std::string& output)
{
    if (m_nFolderError != 0) {
        return CConversion{m_nFolderError, SystemErrorText(m_nFolderError), 0};
    }
    std::unique_lock lock(m_mutex);
    const auto found = m_index.find(source);
    std::size_t index = 0;
    if (found == m_index.end()) {
        index = AddTask(source);
        m_urgent.push_back(index);
    } else if ((index = found->second) >= m_nWriting) {
        for (std::size_t passed = m_nWriting; passed < index; ++passed) {
            Drop(*m_tasks[passed]);
        }
        m_nWriting = index + 1;
    }
    m_changed.notify_all();
    CTask& task = *m_tasks[index];
    while (task.m_state != EState::Done) {
        if (task.m_state == EState::Dropped) {
            return CConversion{ECANCELED, SystemErrorText(ECANCELED), 0};
        }
        m_changed.wait_for(lock, CANCEL_POLL);
        lock.unlock();
        const bool stop = canceled();
        lock.lock();
        if (stop) {
            task.m_bCancel = true;
            return CConversion{ECANCELED, SystemErrorText(ECANCELED), 0};
        }
    }
    output = task.m_output;
    return task.m_result;
}

void CConversionPool::Release(const std::string& output)
{
    RemoveOutput(output);
}

void CConversionPool::Work()
{
    LowerThreadPriority();
    std::unique_lock lock(m_mutex);
    for (;;) {
        CTask* task = nullptr;
        m_changed.wait(lock, [&] { return m_bStop || m_bCanceled || (task = NextTask()) != nullptr; });
        if (task == nullptr) {
            return;
        }
        task->m_state = EState::Running;
        lock.unlock();
        CConversion result = m_convert(task->m_source, m_profile, task->m_output, task->m_bCancel);
        lock.lock();
        if (task->m_state == EState::Dropped || result.m_nError != 0) {
            RemoveOutput(task->m_output);
        }
        if (task->m_state == EState::Running) {
            task->m_result = std::move(result);
            task->m_state = EState::Done;
        }
        m_changed.notify_all();
    }
}

CConversionPool::CTask* CConversionPool::NextTask()
{
    if (!m_urgent.empty()) {
        CTask* task = m_tasks[m_urgent.front()].get();
        m_urgent.pop_front();
        return task;
    }
    while (m_nNext < m_tasks.size() && m_tasks[m_nNext]->m_state != EState::Waiting) {
        ++m_nNext;
    }
    if (m_nNext == m_tasks.size() || m_nNext >= m_nWriting + LOOKAHEAD_PER_WORKER * m_nWorkers) {
        return nullptr;
    }
    return m_tasks[m_nNext++].get();
}

void CConversionPool::Drop(CTask& task)
{
    if (task.m_state == EState::Done) {
        RemoveOutput(task.m_output);
    }
    task.m_bCancel = true;
    task.m_state = EState::Dropped;
}

// The job's cancel state is set on the user-interface thread, which tells no
// one: it is read here, so that no conversion goes on after a cancel.
void CConversionPool::WatchCancel()
{
    std::unique_lock lock(m_mutex);
    while (!m_bStop) {
        m_changed.wait_for(lock, CANCEL_POLL);
        if (g_cancelState.load() != 0 && !m_bCanceled) {
            m_bCanceled = true;
            for (const auto& task : m_tasks) {
                task->m_bCancel = true;
            }
            m_changed.notify_all();
        }
    }
}
