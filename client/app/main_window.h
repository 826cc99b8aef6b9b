#pragma once
// The main window: tab control with one page per game, status line and eight buttons.
#include <windows.h>

// Set by the entry point before the main window exists; every template and icon comes from it.
extern HINSTANCE instanceHandle;

// Dialog procedure of template 102.
INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
