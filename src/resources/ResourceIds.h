#pragma once

// Ids and texts of the window resources.

inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_LOG = 133;
inline constexpr int IDD_COPYFILES = 134;

inline constexpr int IDC_LOG_TEXT = 1001;
inline constexpr int IDC_TODELETE = 1002;
inline constexpr int IDC_TOCOPY = 1003;
inline constexpr int IDC_JOBMESSAGE = 1004;

inline constexpr int ID_FILE_COPYFILES = 32771;
inline constexpr int ID_INDICATOR_FREESPACE = 61204;

// The check-box images, by selection state (none, all, some).
inline constexpr const char* IDB_CHECKBOX_IMAGES[] = {":/checkbox/unchecked.xpm", ":/checkbox/checked.xpm",
                                                      ":/checkbox/partial.xpm"};

inline constexpr char IDS_READY[] = "Ready";
inline constexpr char IDS_EXIT_PROMPT[] = "Quit the application; prompts to save documents";
inline constexpr char IDS_ABOUT_PROMPT[] = "Display program information, version number and copyright";
inline constexpr char IDS_COPYRIGHT[] = "Copyright (C) 2026 The Lyrafetch developers";
