#pragma once

#include "model/FolderNode.h"

#include <cstdint>
#include <span>

// The tri-state of count albums out of albums: TRISTATE_NONE, TRISTATE_ALL or
// TRISTATE_SOME.
int TriState(std::int32_t count, std::int32_t albums);

// Sets the selection of each of the albums (nodes without children) by a
// selection mode, as ApplySelection does for a whole subtree, and brings the
// counts and byte changes of their ancestors up to date. Each album passes its
// own change up its path, so that a few albums of a folder of many cost no
// summing of the folder's children.
void ApplyAlbumSelection(std::span<CFolderNode* const> albums, int mode);

// Keeps the player's version of a changed album for this job, or has the job
// refresh it again, and brings the byte changes of its ancestors up to date.
void SetKeepPlayers(CFolderNode& album, bool bKeep);
// The same for every changed album at or below node; bKeep false lets each be
// refreshed again.
void SetKeepAllPlayers(CFolderNode& node, bool bKeep);
