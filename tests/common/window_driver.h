#pragma once
// Drives windows the way a user does, from another thread or another process: find a
// window, read its texts, type into it, press its buttons. Every wait has a timeout.
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "poll_until.h"

using namespace std::chrono_literals;

// Visible top-level windows of `processId` (0: any) with the given class and caption,
// owned by `owner` when one is given.
std::vector<HWND> topLevelWindows(DWORD processId, const std::string& className, const std::string& caption,
                                  HWND owner = nullptr);
HWND findTopLevel(DWORD processId, const std::string& className, const std::string& caption);
HWND waitForTopLevel(DWORD processId, const std::string& className, const std::string& caption,
                     std::chrono::milliseconds timeout = 20s);

// A visible dialog (class #32770) owned by `owner`'s top-level window, by caption.
HWND waitForOwnedDialog(HWND owner, const std::string& caption, std::chrono::milliseconds timeout = 20s);

std::string windowText(HWND window);  // WM_GETTEXT, works across threads and processes
std::string controlText(HWND dialog, int id);
std::string windowClass(HWND window);

// The message of a message box (its static text control).
std::string messageBoxText(HWND box);

// Keyboard input as the dialog manager sees it, posted to the window's thread.
void typeText(HWND edit, const std::string& text);
void pressKey(HWND window, UINT virtualKey);

// A click on a push button (BM_CLICK: press and release over the button).
void clickButton(HWND button);

bool windowGone(HWND window);
