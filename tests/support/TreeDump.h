#pragma once

#include "model/FolderNode.h"

#include <string>

// The tree as indented text, one node a line:
//     <computer name>|<player name> <presence> sel=<selected> on=<onPlayer> albums=<albums> [delta=<sizeDelta>]
// presence C, P or M; the delta only when it is not 0. The root prints as "Root".
std::string DumpTree(const CFolderNode& root);

// Finds the node at a relative path of key names ("ABBA/Gold"); null when
// there is none.
CFolderNode* FindNode(CFolderNode& root, const std::u16string& relative);
