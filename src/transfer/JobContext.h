#pragma once

#include "platform/PlayerTree.h"

#include <string>

class CCopyLog;

// What the parts of a copy job share: the player, the log, the rules for a
// failed call, and what the job has learnt of the player's renames.
class CJobContext
{
public:
    CJobContext(IPlayerTree& player, CCopyLog& log) : m_player(player), m_log(log) {}

    // The kind of a failed call on the player: deleting only frees space, so a
    // full disk stops the job only while it writes.
    enum class ECall { Write, Delete };

    // Every failed call ends in one of these: they cancel the job when the
    // error stops it, then write the call's line with the error's text.
    void PlayerFailure(ECall call, const char* format, const std::string& display, int error);
    void ComputerFailure(const char* format, const std::string& display, int error);

    IPlayerTree& m_player;
    CCopyLog& m_log;
    // A rename on the player has lost a folder's entries (fusefat does): no
    // album is staged or hidden any more. The first rename of an album to
    // delete has been checked.
    bool m_bRenamesLoseEntries = false;
    bool m_bRenamesChecked = false;
};
