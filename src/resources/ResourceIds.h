#pragma once

// Ids and texts of the window resources.

// The check-box images, by selection state (none, all, some).
inline constexpr const char* IDB_CHECKBOX_IMAGES[] = {":/checkbox/unchecked.xpm", ":/checkbox/checked.xpm",
                                                      ":/checkbox/partial.xpm"};
// Drawn over the check box of an album changed on the computer since it was
// copied: one the job replaces, and one whose player's version it keeps.
inline constexpr char IDB_CHANGED_MARK[] = ":/checkbox/changed.xpm";
inline constexpr char IDB_KEPT_MARK[] = ":/checkbox/kept.xpm";

inline constexpr char IDS_READY[] = "Ready";
inline constexpr char IDS_EXIT_PROMPT[] = "Quit the application; prompts to save documents";
inline constexpr char IDS_SHOW_LOG_PROMPT[] = "Show the log of the last copy job";
inline constexpr char IDS_EJECT_PROMPT[] = "Unmount the Jukebit and power it off, so that it can be unplugged";
inline constexpr char IDS_ABOUT_PROMPT[] = "Display program information, version number and copyright";
inline constexpr char IDS_COPYRIGHT[] = "Copyright (C) 2026 The Lyrafetch developers";
