#pragma once

#include <string>

// The name of the user this process runs as, from the system's account
// database: the environment may lack $USER, as when the desktop starts the
// program from a session without it. Empty when the system has no entry.
std::string CurrentUserName();
