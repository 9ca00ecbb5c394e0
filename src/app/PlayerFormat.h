#pragma once

#include "transfer/FormatProfile.h"

#include <string>
#include <string_view>

// Which format a player's files are written in, before the user has chosen
// one for it.

// The name of the file by which Linux music programs know a player, at the
// root of its card.
inline constexpr char AUDIO_PLAYER_FILE[] = ".is_audio_player";

// The profile that the text of an AUDIO_PLAYER_FILE preselects: none without
// an output_formats line. The player takes the files as they are where it
// plays FLAC; else the first of its formats that a profile writes, in the
// file's order (Opus for Ogg, MP3 for MPEG, AAC for MP4); else, as for a
// format no profile writes, the files as they are.
const CFormatProfile* ProfileForPlayerFile(std::string_view text);

// The profile that the AUDIO_PLAYER_FILE of a player preselects: the one at
// the mount point of the player folder's file system, else the one in the
// player folder itself. None where neither can be read.
const CFormatProfile* PreselectedProfile(const std::string& playerFolder);

// What a player's format is remembered by: its file system's UUID or serial
// number where it has one ("UUID=1A2B-3C4D"), else the player folder's path,
// links resolved ("folder=/media/me/PLAYER/Music"). Empty when the folder
// cannot be reached.
std::string PlayerFormatKey(const std::string& playerFolder);
