#pragma once
// Resource ids of the whole client: icon, dialog templates and their controls.
// Shared by the .rc files (through windres) and the C++ sources.

#define IDI_KESTRUN 101

#define IDD_MAIN 102
#define IDD_GAME_PAGE 103
#define IDD_SETTINGS 104
#define IDD_ABOUT 105
#define IDD_INPUT 106

// Main window (102)
#define IDC_GAME_TABS 1001
#define IDC_STATUS 1002
#define IDC_REFRESH 1003
#define IDC_ADD_RACE 1004
#define IDC_REMOVE_RACE 1005
#define IDC_LAUNCH_GAME 1006
#define IDC_SETTINGS 1007
#define IDC_ABOUT 1008
#define IDC_WEBSITE 1009
#define IDC_EXIT 1010

// Game page (103)
#define IDC_ROOM_COUNT 1011
#define IDC_RETRIEVED_ON 1012
#define IDC_RACE_LIST 1013

// Settings (104)
#define IDC_SETTINGS_IP 1014

// Input (106)
#define IDC_INPUT_PROMPT 1015
#define IDC_INPUT_TEXT 1016

// About (105): the site's address and the authors' contact, both the site root, set when the
// box opens (the template's text is a placeholder)
#define IDC_ABOUT_SITE 1017
#define IDC_ABOUT_CONTACT 1018
