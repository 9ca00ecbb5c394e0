#pragma once

#include "model/AlbumManifest.h"
#include "platform/FileSystem.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

class CListingReader;

// One folder listing that a scan wants, read ahead of the walk that takes it.
class CListingRequest
{
public:
    // A folder the system names, such as a root given on the command line;
    // it stays open for the folders below it. With bManifests, it and the
    // folders below read the album manifests they hold.
    CListingRequest(std::string path, ELinks links, bool bManifests = false);

    // Once it has been read: the error that kept the folder from being opened,
    // or 0 with its listing.
    int m_error = 0;
    CFolderListing m_listing;
    // Where manifests are read: the text of the folder's, when it held one
    // that could be read, and whether it held one that could not. The walk
    // parses it: a text takes less room than its parse while the listing
    // waits for the walk.
    std::optional<std::string> m_manifestText;
    bool m_bManifestUnread = false;
    // The folder held open, once it is read, when the folders below are
    // reached from it, as a root's are.
    const COpenFolder* OpenFolder() const { return m_pOpen.get(); }

private:
    friend class CListingReader;

    CListingRequest(const CListingRequest& parent, const std::u16string& name);
    // Whether the folder is held open once it is read, for the folders below.
    bool IsAnchor() const;
    void Read();

    std::u16string m_name; // in the folder above
    CFolderPlace m_place;
    ELinks m_links;
    bool m_bManifests = false;
    // Held open, when the folders below are reached from it.
    std::shared_ptr<const COpenFolder> m_pOpen;
    // Made when the listing was read: the first folders in it.
    std::vector<std::shared_ptr<CListingRequest>> m_below;
    bool m_bTaken = false;
    bool m_bDone = false;
};

// Reads listings on a few threads of its own, so that a device holding the
// folders has many requests in flight instead of one. The walk of a scan asks
// for the folders it will enter, and each folder read asks for the first
// folders in it, newest first, as the walk will want them. The walk takes each
// listing in its own order and reads one itself when no thread has begun it.
// Reading ahead stops while many listings wait to be taken.
class CListingReader
{
public:
    explicit CListingReader(unsigned threads);
    CListingReader(const CListingReader&) = delete;
    CListingReader& operator=(const CListingReader&) = delete;
    // Drops what nobody has begun and waits for what has been.
    ~CListingReader();

    // The first of the requests is read first.
    void Queue(std::span<const std::shared_ptr<CListingRequest>> requests);
    // The request for the folder name in the folder of parent, which has been
    // read: the one made then, or else a new one, added to fresh for queueing.
    static std::shared_ptr<CListingRequest> Below(CListingRequest& parent, const std::u16string& name,
                                                  std::vector<std::shared_ptr<CListingRequest>>& fresh);
    // Returns once the request has been read.
    void Wait(CListingRequest& request);

private:
    void Work();
    // Reads the request and asks for the first folders in it.
    void Read(CListingRequest& request);

    std::mutex m_mutex;
    std::condition_variable m_queued;
    std::condition_variable m_read;
    // The newest at the back. Only the walk and the listings above own a
    // request: one the walk has done with is gone, and so is any folder it
    // held open, even while no reader has come to it here.
    std::vector<std::weak_ptr<CListingRequest>> m_stack;
    std::size_t m_nWaiting = 0; // read and not yet taken
    bool m_bStopping = false;
    std::vector<std::thread> m_threads;
};
