#include "model/ListingReader.h"

#include "model/FolderNode.h"
#include "platform/ThreadPriority.h"

#include <algorithm>
#include <optional>
#include <system_error>

namespace {

// Folders of a listing asked for when it is read, at most.
constexpr std::size_t READ_AHEAD_FOLDERS = 32;
// Listings read ahead and not yet taken, at most: enough to keep a device
// busy, few enough to hold little memory.
constexpr std::size_t MAX_WAITING = 1024;
// A folder whose path from the folder it is reached from is this long is held
// open, and the folders below it are reached from it: the paths handed to the
// system stay far below its limit, however deep the tree.
constexpr std::size_t ANCHOR_PATH_BYTES = 2048;
// A manifest larger than this is no manifest of ours: a few hundred bytes an
// album's file are plenty.
constexpr std::size_t MAX_MANIFEST_BYTES = 1 << 20;

} // namespace

CListingRequest::CListingRequest(std::string path, ELinks links, bool bManifests)
    : m_place{nullptr, std::move(path)}, m_links(links), m_bManifests(bManifests)
{
}

CListingRequest::CListingRequest(const CListingRequest& parent, const std::u16string& name)
    : m_name(name), m_links(parent.m_links), m_bManifests(parent.m_bManifests)
{
    const std::string native = ToNativePath(name);
    m_place = parent.m_pOpen ? CFolderPlace{parent.m_pOpen, native}
                             : CFolderPlace{parent.m_place.m_pBase, parent.m_place.m_path + '/' + native};
}

bool CListingRequest::IsAnchor() const
{
    return !m_place.m_pBase || m_place.m_path.size() >= ANCHOR_PATH_BYTES;
}

// Reading the manifest here keeps its system calls off the walk's thread.
void CListingRequest::Read()
{
    static const std::string manifestName = ToNativePath(MANIFEST_NAME);
    CFolderNote note;
    note.m_pName = manifestName.c_str();
    note.m_maxBytes = MAX_MANIFEST_BYTES;
    m_error =
        ListFolderAt(m_place, m_listing, m_links, IsAnchor() ? &m_pOpen : nullptr, m_bManifests ? &note : nullptr);
    if (!note.m_bFound) {
        return;
    }
    if (note.m_error == 0) {
        m_manifestText = std::move(note.m_text);
    } else {
        m_bManifestUnread = true;
    }
}

CListingReader::CListingReader(unsigned threads)
{
    // Without threads of its own, the walk reads every listing itself.
    try {
        for (unsigned i = 0; i < threads; ++i) {
            m_threads.emplace_back(&CListingReader::Work, this);
        }
    } catch (const std::system_error&) {
    }
}

CListingReader::~CListingReader()
{
    {
        const std::lock_guard lock(m_mutex);
        m_bStopping = true;
        m_stack.clear();
    }
    m_queued.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void CListingReader::Queue(std::span<const std::shared_ptr<CListingRequest>> requests)
{
    if (requests.empty()) {
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stack.insert(m_stack.end(), requests.rbegin(), requests.rend());
    }
    for (std::size_t i = 0; i < std::min(requests.size(), m_threads.size()); ++i) {
        m_queued.notify_one();
    }
}

std::shared_ptr<CListingRequest> CListingReader::Below(CListingRequest& parent, const std::u16string& name,
                                                       std::vector<std::shared_ptr<CListingRequest>>& fresh)
{
    const auto made = std::find_if(parent.m_below.begin(), parent.m_below.end(),
                                   [&](const auto& request) { return request && request->m_name == name; });
    if (made != parent.m_below.end()) {
        return std::move(*made);
    }
    fresh.push_back(std::shared_ptr<CListingRequest>(new CListingRequest(parent, name)));
    return fresh.back();
}

void CListingReader::Wait(CListingRequest& request)
{
    std::unique_lock lock(m_mutex);
    if (!request.m_bTaken) {
        request.m_bTaken = true;
        lock.unlock();
        Read(request);
        return;
    }
    m_read.wait(lock, [&] { return request.m_bDone; });
    const bool wasFull = m_nWaiting-- == MAX_WAITING;
    lock.unlock();
    if (wasFull) {
        m_queued.notify_one();
    }
}

void CListingReader::Read(CListingRequest& request)
{
    request.Read();
    // The folders the scan leaves out are never entered.
    for (const CDirEntry& entry : request.m_listing.m_entries) {
        if (request.m_below.size() == READ_AHEAD_FOLDERS) {
            break;
        }
        if (entry.m_bFolder && !IsLeftOutFolder(entry.m_name)) {
            request.m_below.push_back(std::shared_ptr<CListingRequest>(new CListingRequest(request, entry.m_name)));
        }
    }
    Queue(request.m_below);
}

void CListingReader::Work()
{
    // The walk takes the listings in its order, so the scan waits on it: with
    // warm caches a read is short and a reader would only take the walk's
    // core; with cold ones the readers wait on the device and lose nothing.
    LowerThreadPriority();
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_queued.wait(lock, [&] { return m_bStopping || (!m_stack.empty() && m_nWaiting < MAX_WAITING); });
        if (m_bStopping) {
            return;
        }
        const std::shared_ptr<CListingRequest> request = m_stack.back().lock();
        m_stack.pop_back();
        // A folder deep down that stays open is read by the walk when it
        // enters it: read ahead, each would hold a descriptor until then, and
        // a wide tree there would use them all up. The roots are only two.
        if (!request || request->m_bTaken || (request->m_place.m_pBase && request->IsAnchor())) {
            continue; // the walk reads it itself
        }
        request->m_bTaken = true;
        lock.unlock();
        Read(*request);
        lock.lock();
        request->m_bDone = true;
        ++m_nWaiting;
        m_read.notify_one(); // only the walk waits for a listing
    }
}
