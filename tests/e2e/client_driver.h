#pragma once
// Starts the real client and drives it the way a player does: mouse clicks on buttons,
// tabs and column headers, typing on the keyboard (SendInput), and reading what its
// windows show (window texts, list rows read across processes).
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "window_driver.h"

// Real input: the cursor goes to the middle of the rectangle (screen coordinates) and,
// once it is there over `target` (when given), clicks.
enum class MouseButton { Left, Right };
void clickAt(const RECT& screenRect, HWND target = nullptr, MouseButton button = MouseButton::Left);
void clickWindow(HWND window);
void typeKeys(const std::string& text);  // characters as Unicode key strokes
void pressVirtualKey(WORD key);

class KestrunClient {
public:
    // Starts the program (no arguments) and waits for its main window.
    explicit KestrunClient(const std::string& exePath);
    ~KestrunClient();  // a client still running is ended, so no process stays behind
    KestrunClient(const KestrunClient&) = delete;
    KestrunClient& operator=(const KestrunClient&) = delete;

    bool started() const { return window_ != nullptr; }
    HWND window() const { return window_; }
    DWORD processId() const { return info_.dwProcessId; }

    std::string status() const;
    bool waitForStatus(const std::string& text, std::chrono::milliseconds timeout = 20s) const;

    void click(int controlId) const;
    void selectTab(int index) const;
    void clickColumnHeader(int column) const;
    // A right-click on the visible list's row, then the menu's item chosen with the arrow
    // keys and Enter; false when no menu came up.
    bool chooseFromRowMenu(int row, int item) const;

    HWND page() const;  // the visible game page
    std::string roomCount() const;
    std::string retrievedOn() const;
    std::vector<std::vector<std::string>> rows() const;  // the visible page's list, three cells a row

    // A visible dialog of the client with this caption (message boxes are "Error").
    HWND waitForDialog(const std::string& caption, std::chrono::milliseconds timeout = 20s) const;
    // A click on the button, then the dialog it opens (nullptr if none came).
    HWND openDialog(int controlId, const std::string& caption) const;
    int errorBoxCount() const;
    std::string describeInput() const;  // where the pointer and the focus are, for failures
    // The text of the topmost error box, which is then closed with its OK button.
    std::string takeError(std::chrono::milliseconds timeout = 20s) const;

    bool waitForExit(DWORD& exitCode, std::chrono::milliseconds timeout = 20s) const;

private:
    PROCESS_INFORMATION info_{};
    HWND window_ = nullptr;

    // Remote memory for list view and header requests that carry pointers.
    template <typename T>
    T remoteCall(HWND target, UINT message, WPARAM wParam, const T& in, std::string* text = nullptr) const;
};
