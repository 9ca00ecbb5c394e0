#pragma once

#include "model/FolderNode.h"

#include <memory>

// A scanned tree built in memory: artists holding albums of files, every other
// album also on the player; with no albums per artist, a flat library whose
// albums lie in the root, every other one also on the player.
std::unique_ptr<CFolderNode> BuildTree(int artists, int albumsPerArtist, int filesPerAlbum);
