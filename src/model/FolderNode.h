#pragma once

#include "model/AlbumManifest.h"
#include "platform/FileSystem.h"
#include "platform/MessageBox.h"

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

inline constexpr int SIDE_COMPUTER = 0;
inline constexpr int SIDE_PLAYER = 1;
inline constexpr int SIDE_COUNT = 2;

// Stand in for the root folders in paths shown to the user.
inline constexpr std::array<const char16_t*, SIDE_COUNT> ROOT_LABELS = {u"COMPUTER", u"JUKEBIT"};

// Put before every path handed to the file system; this platform needs none.
inline constexpr char16_t LONG_PATH_PREFIX[] = u"";

inline constexpr int PRESENCE_COMPUTER = 0;
inline constexpr int PRESENCE_PLAYER_ONLY = 1;
inline constexpr int PRESENCE_MIXED = 2;

inline constexpr int TRISTATE_NONE = 0;
inline constexpr int TRISTATE_ALL = 1;
inline constexpr int TRISTATE_SOME = 2;

inline constexpr int SELECT_NONE = 0;
inline constexpr int SELECT_ALL = 1;
inline constexpr int SELECT_INITIAL = 2;

// One file lying directly in a folder on one side.
struct CFileEntry
{
    std::u16string m_name;
    std::uint64_t m_size = 0;
    std::int64_t m_modified = 0; // nanoseconds since 1970
};

// A copy writes a new album into a folder of this name beside where the album
// belongs and gives it the album's name only once it is complete on the
// device; an album to delete takes the name with "-" and a number before its
// files go. Players hide them, FAT and exFAT take them, no album is named so.
inline constexpr char16_t STAGING_FOLDER[] = u".lyrafetch-partial";
bool IsStagingFolder(const std::u16string& name);

class CFolderNode;

// What a computer file of an album becomes on the player once a job's writer
// has written it.
class IPlayerFiles
{
public:
    virtual ~IPlayerFiles() = default;
    // The name it takes there.
    virtual std::u16string PlayerFileName(const CFolderNode& album, const CFileEntry& source) const = 0;
    // The bytes it takes there: its own size where it is copied, an upper
    // estimate where it is made anew.
    virtual std::uint64_t ExpectedBytes(const CFolderNode& album, const CFileEntry& source) const = 0;
    // Names the writer in the manifest of each album it writes: an album that
    // another writer made is changed.
    virtual std::string WriterId() const = 0;
};

// The manifest that a job writing the album with writer puts beside its files.
CAlbumManifest ManifestFor(const CFolderNode& album, const IPlayerFiles& writer);

// A staging folder that a job cut off left: its name in a folder of the player.
struct CLeftover
{
    CFolderNode* m_pFolder = nullptr;
    std::u16string m_name;
};
class CListingRequest;

// A folder that the tree leaves out, as the window lists it: its display path,
// and why.
struct CLeftOutFolder
{
    enum EReason {
        OTHER_SYSTEMS, // a folder that other systems keep on a drive
        ON_PLAYER,     // a computer folder that is a folder of the player's tree
    };
    std::string m_display;
    EReason m_reason = OTHER_SYSTEMS;

    bool operator==(const CLeftOutFolder&) const = default;
};

// What a scan saw besides the tree.
struct CScanRecord
{
    // The folder each root named, links resolved; the player's with its file
    // system.
    std::array<CFolderStamp, SIDE_COUNT> m_roots;
    // The staging folders of the player, left by a job that was cut off; the
    // tree shows none of them.
    std::vector<CLeftover> m_leftovers;
    // The folders the tree leaves out: other systems' in the order of the
    // walk, then the computer's folders that are the player's.
    std::vector<CLeftOutFolder> m_leftOut;
    // The player's folders that a computer folder resolves to, through a link
    // or a mount: the computer's library is there, and nothing below them is
    // ever deleted.
    std::vector<CFolderId> m_computersOnPlayer;
    // The files (device, inode) on the player's device that computer files
    // link to: the computer's music is there, and none of them is deleted.
    std::set<std::pair<std::uint64_t, std::uint64_t>> m_computersFilesOnPlayer;
    // The display paths of the player's album manifests that could not be
    // read or parsed, in the order of the walk: those albums count as having
    // none, and the next job's log says so in one line.
    std::vector<std::string> m_unreadManifests;
    // After a failed scan: the side of the folder that could not be read.
    int m_nUnreadSide = -1;
};

// Told on the scanning thread, after each folder it reads, how far a scan has
// come: the folders read so far on both sides and the file entries they held.
class IScanProgress
{
public:
    virtual void OnScanProgress(std::uint64_t folders, std::uint64_t files) = 0;

protected:
    ~IScanProgress() = default;
};

// Two roots that are one folder, or where one lies inside the other: a job
// would delete the computer's own albums or copy the player into itself.
enum class ERootOverlap { Same, PlayerInsideComputer, ComputerInsidePlayer };
CMessage RootOverlapMessage(ERootOverlap overlap);

// The name a name takes on the player: each character that FAT and exFAT
// refuse in a name (" * : < > ? \ | and the control characters), each byte
// that is not UTF-8, and each trailing dot or blank, replaced by "_". Every
// folder and file a job creates on the player has the player name of the
// computer's name, whatever the player's file system.
std::u16string PlayerName(const std::u16string& name);

// Folders that other systems keep on a drive, which the tree leaves out on
// both sides: never shown, counted, deleted or copied. Names that begin with
// "." and a letter, "_" or "@", and a few of fixed name.
bool IsLeftOutFolder(const std::u16string& name);

// Whether a manifest records just these computer files, each with its size
// and modification time.
bool RecordsFiles(const CAlbumManifest& manifest, const std::vector<CFileEntry>& files);

// Compares names with the letters A to Z folded to a to z and nothing else
// folded: negative, zero or positive.
int CompareNames(const std::u16string& a, const std::u16string& b);
// The order of a folder's children and of a listing: by CompareNames, and
// names equal with case folded by their unfolded text.
bool NameOrderLess(const std::u16string& a, const std::u16string& b);

// One folder of the merged tree of the computer's and the player's music
// folders. A node owns its children; the leaves are the albums.
class CFolderNode
{
public:
    explicit CFolderNode(CFolderNode* pParent = nullptr) : m_pParent(pParent) {}
    CFolderNode(const CFolderNode&) = delete;
    CFolderNode& operator=(const CFolderNode&) = delete;
    ~CFolderNode() = default;

    void SetName(int side, const std::u16string& name) { m_names[side] = name; }
    bool IsAlbum() const { return m_children.empty(); }

    // The root part from rootSide (its label or its folder), the folder names
    // below it from nameSide, joined by PATH_SEPARATOR.
    std::u16string GetPath(int rootSide, int nameSide, bool bLabelRoot) const;
    std::u16string GetPath(int side, bool bLabelRoot) const { return GetPath(side, side, bLabelRoot); }
    std::u16string GetRelativePath(int side) const;
    std::u16string GetRootFolder(int side) const;
    // The folder's path below the player's root as it is or will be there: the
    // player's names of the folders that exist there, the computer's below.
    std::u16string GetPlayerRelativePath() const;
    // The folder's own name on the player, as it is or will be there.
    std::u16string GetPlayerName() const;
    // The computer-side name when there is one, else the player-side name.
    const std::u16string& GetKeyName() const;
    // Where the node stands among its parent's children (0 for the root),
    // found by its key in their order without visiting them all.
    std::size_t IndexInParent() const;
    std::string GetDisplayName() const;

    // Scanning: reads both folder trees below the root names and merges them.
    // False when a folder could not be read; failure then holds the message to
    // show, and the tree is to be discarded.
    bool Scan(CScanRecord& record, CMessage& failure, IScanProgress* pProgress = nullptr);
    bool Scan();
    // Merges sub-folders found on one side into the children. Names must come
    // in listing order: ASCII letters folded, ties by the unfolded text.
    // Then a folder that one side lacks joins one that the other side lacks
    // when their player names are equal with case folded, else when they are
    // equal composed (NFC) and with case folded.
    void AddChildren(int side, std::vector<std::u16string>& names);
    void AddChild(int side, const std::u16string& name);
    static CMessage ReportScanError(const std::u16string& path, int error);
    // Sets every counter of a tree whose folders have all been read: presence,
    // initial selection and album counts.
    void FinishScan();
    void ComputePresence();
    void ComputeInitialSelection();
    void ComputeAlbumCounts();
    // Tells each album on both sides whether it changed on the computer since
    // the player's version was written, as writer would write it now, and
    // counts the changed albums up the tree. The byte changes are then to be
    // computed again.
    void ComputeChanges(const IPlayerFiles& writer);

    // Selection: which albums are wanted on the player, and what that changes.
    int GetSelectionState() const;
    int GetPlayerState() const;
    void ApplySelection(int mode);
    void ComputeDeltas();
    void ComputeAlbumDelta();
    // Computer files count what sizes says they take, or their own size.
    std::int64_t AlbumDelta(std::uint64_t unit, const IPlayerFiles* sizes = nullptr) const;
    void SumChildDeltas();
    // On the root: what the files to copy take once written, by the writer in
    // use, which the byte changes of every album then count; without it, the
    // computer files' own sizes. Set again whenever the writer changes.
    void SetPlayerFiles(const IPlayerFiles* sizes) { m_pPlayerFiles = sizes; }
    bool HasPlayerOnlyDeletion() const;
    int CountAlbumsToDelete() const;
    int CountAlbumsToCopy() const;
    int CountAlbumsToRefresh() const;
    // The sum of the sizes of the folder's files on one side, each rounded up
    // to a whole number of allocation units; with sizes, what they take once written.
    std::uint64_t FileBytes(int side, std::uint64_t unit = 1, const IPlayerFiles* sizes = nullptr) const;
    // The change of occupied space on the player that the selection implies
    // at or below this node, on a file system with allocation units (clusters)
    // of the given size: each file takes whole units, each folder a job makes
    // or removes at least one, and a folder's entries units of their own. A
    // file to copy takes what the job's writer, sizes, says.
    std::int64_t ComputeSpaceDelta(std::uint64_t unit, const IPlayerFiles& sizes) const;
    // An album that is selected and not on the player.
    bool IsAlbumToCopy() const { return IsAlbum() && m_selected != 0 && m_names[SIDE_PLAYER].empty(); }
    // An album that is on the player and not selected.
    bool IsAlbumToDelete() const { return IsAlbum() && m_selected == 0 && !m_names[SIDE_PLAYER].empty(); }
    // An album on both sides that changed on the computer since the player's
    // version was written, selected, and not kept as the player has it: the
    // job writes its new version in place of the old.
    bool IsAlbumToRefresh() const
    {
        return IsAlbum() && m_bChanged && !m_bKeepPlayers && m_selected != 0 && !m_names[SIDE_PLAYER].empty();
    }

    CFolderNode* m_pParent = nullptr;
    std::vector<std::unique_ptr<CFolderNode>> m_children;
    std::array<std::vector<CFileEntry>, SIDE_COUNT> m_files;
    std::int64_t m_sizeDelta = 0;
    std::array<std::u16string, SIDE_COUNT> m_names;
    int m_presence = PRESENCE_COMPUTER;
    std::int32_t m_selected = 0;
    std::int32_t m_onPlayer = 0;
    std::int32_t m_albums = 0;
    // The albums at or below the folder that changed on the computer since
    // the player's version was written.
    std::int32_t m_changed = 0;
    // The record of the player's album, when it holds one that could be read:
    // its writer. The scan compares its files with the computer's as it reads
    // the album (m_bRecordsFiles) and keeps none of them: a tree of many albums
    // would hold every name twice more.
    std::unique_ptr<CAlbumManifest> m_pManifest;
    // Whether the record names just the computer's files, each with its size
    // and time.
    bool m_bRecordsFiles = false;
    bool m_bChanged = false;
    // The user keeps the player's version of a changed album for this job.
    bool m_bKeepPlayers = false;

private:
    const IPlayerFiles* m_pPlayerFiles = nullptr;

    const CFolderNode& Root() const;
    class CScanState;
    using CSideRequests = std::array<std::shared_ptr<CListingRequest>, SIDE_COUNT>;
    void SetSubtreeSelection(int mode);
    bool ScanFolders(CScanState& state, const CSideRequests& requests);
    // Drops the computer's side of the folders that the scan found to be the
    // player's, and of everything below them.
    void LeaveOutPlayersFolders(CScanState& state);
    void DropComputerSide();
    bool ReadSide(int side, CListingRequest& request, CScanState& state);
    void MergeGroup(int side, std::span<std::u16string> names, std::vector<std::unique_ptr<CFolderNode>>& merged,
                    std::size_t groupStart);
    void PairOneSidedChildren();
    void PairOneSidedChildren(std::u16string (*match)(const std::u16string&));
};
