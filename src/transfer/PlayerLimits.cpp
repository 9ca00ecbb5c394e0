#include "transfer/AlbumCopier.h"

#include "model/AlbumManifest.h"
#include "text/Unicode.h"
#include "transfer/CopyLog.h"
#include "transfer/FileWriter.h"

#include <cerrno>
#include <set>

using ECall = CJobContext::ECall;

// What the player cannot hold is refused before any of the album is written,
// with the line of the call that would have failed: a folder to make whose
// name on the player another folder beside it has too, two files whose names
// are one name there (FAT and exFAT tell no case apart, in any script), a file
// that the writer expects above the largest size of its file system, a path
// longer than the system takes whole (written folder by folder, it could never
// be read back). The names and sizes are the writer's.
bool CAlbumCopier::FitsOnPlayer(const CFolderNode& album)
{
    const std::u16string relative = album.GetPlayerRelativePath();
    const std::u16string staging = JoinPath(album.m_pParent->GetPlayerRelativePath(), STAGING_FOLDER);
    // The album is written in the staging folder, then takes its own name.
    const auto withinLimit = [&](const std::u16string& name) {
        return IsWithinPathLimit(JoinPath(relative, name)) && IsWithinPathLimit(JoinPath(staging, name));
    };
    if (!withinLimit(u"")) {
        m_context.PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s", FolderDisplayPath(relative), ENAMETOOLONG);
        return false;
    }
    // The folders to make are those the player lacks, from the album up; the
    // one nearest the root is the first a copy would make.
    const CFolderNode* shared = nullptr;
    for (const CFolderNode* node = &album; node->m_pParent != nullptr && node->m_names[SIDE_PLAYER].empty();
         node = node->m_pParent) {
        shared = SharesPlayerName(*node) ? node : shared;
    }
    if (shared != nullptr) {
        m_context.PlayerFailure(ECall::Write, "Creating \"%s\" : Error %s",
                                FolderDisplayPath(shared->GetPlayerRelativePath()), EEXIST);
        return false;
    }
    // The album's manifest takes a name of its own beside its files.
    std::set<std::u16string> names{FoldCaseAsFat(MANIFEST_NAME)};
    const std::uint64_t maxSize = m_context.m_player.MaxFileSize();
    for (const CFileEntry& entry : album.m_files[SIDE_COMPUTER]) {
        const std::u16string name = m_writer.PlayerFileName(album, entry);
        const std::string display = PlayerDisplayPath(JoinPath(relative, name));
        const int error = !withinLimit(name)                               ? ENAMETOOLONG
                          : m_writer.ExpectedBytes(album, entry) > maxSize ? EFBIG
                          : !names.insert(FoldCaseAsFat(name)).second      ? EEXIST
                                                                           : 0;
        if (error != 0) {
            m_context.PlayerFailure(ECall::Write,
                                    error == EFBIG ? "Writing \"%s\" : Error %s" : "Opening \"%s\" : Error %s", display,
                                    error);
            return false;
        }
    }
    return true;
}

bool CAlbumCopier::SharesPlayerName(const CFolderNode& node)
{
    const auto [names, fresh] = m_childPlayerNames.try_emplace(node.m_pParent);
    if (fresh) {
        for (const auto& child : node.m_pParent->m_children) {
            ++names->second[FoldCaseAsFat(child->GetPlayerName())];
        }
    }
    return names->second[FoldCaseAsFat(node.GetPlayerName())] > 1;
}
