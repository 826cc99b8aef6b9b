#pragma once
// One supported game: its race list, its page inside the main window's tab control with
// the race list view, its commands, and the handling of the server's answers.
//
// Every call — commands, list-view notifications and the listener calls, which the
// request engine delivers through the page's WM_SERVER_COMPLETION — runs on the
// user-interface thread, so the race arrays are never read while they are replaced.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "games/race_list.h"
#include "server/server_listener.h"
#include "server/server_request.h"

// The DPI of the screen that `window` is on.
unsigned windowDpi(HWND window);

class GameTab : public ServerListener {
public:
    GameTab();
    // The same against another server script (tests).
    explicit GameTab(std::string serverUrl);
    ~GameTab();
    GameTab(const GameTab&) = delete;
    GameTab& operator=(const GameTab&) = delete;

    std::string gameId() const { return gameId_; }
    void setGameId(const std::string& text) { gameId_ = text; }
    void setExePath(const std::string& text) { exePath_ = text; }
    void setWorkDir(const std::string& text) { workDir_ = text; }

    // Creates the page (template 103) inside the tab control; throws an error text.
    void createPage(HINSTANCE instance, HWND tabControl, HWND statusWindow);
    void setStatusText(const std::string& text);

    // Sets the race list's column widths for a screen of `dpi` dots per inch (96: the
    // widths of the design); the main window calls it when the window changes screens.
    void scaleColumns(unsigned dpi);
    void sortByColumn(int column);
    void reverseRows();
    void fillDisplayInfo(NMLVDISPINFOA& info) const;
    static INT_PTR CALLBACK pageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void show();
    void hide();
    void refresh();
    void fetchRaceList();
    void addRace(const std::string& name, const std::string& ownIp);
    void removeRace(const std::string& ownIp);
    void launchGame();

    void reportError(const std::string& message) override;
    void handleResponse(const std::string& action, const std::string& body) override;

    // The tab whose page is shown, or null.
    static GameTab* currentTab() { return currentTab_; }

    HWND pageWindow() const { return pageWindow_; }
    HWND listView() const { return listView_; }
    bool idle() const { return idle_; }
    bool listRetrieved() const { return listRetrieved_; }
    std::uint32_t raceCount() const { return raceCount_; }
    std::uint32_t retrievedOn() const { return retrievedOn_; }
    int sortColumn() const { return sortColumn_; }
    const std::vector<RaceEntry>& races() const { return races_; }
    const std::vector<std::uint32_t>& rowOrder() const { return rowOrder_; }

private:
    void onRaceList(const std::string& body);
    void onRaceAdded(const std::string& body);
    void onRaceRemoved(const std::string& body);
    void releaseRaces();
    void sendRaceRequest(const char* action, const std::string& data);
    // Ctrl+C and the right-click menu of the race list (race_copy.cpp); other
    // notifications pass untouched.
    void handleCopyNotification(const NMHDR& header);
    const RaceEntry* raceAtRow(int row) const;

    static GameTab* currentTab_;

    std::string gameId_;
    std::string exePath_;
    std::string workDir_;
    ServerRequest request_;
    HWND pageWindow_ = nullptr;
    HWND statusWindow_ = nullptr;
    bool idle_ = true;
    HWND listView_ = nullptr;
    std::uint32_t retrievedOn_ = 0;
    int sortColumn_ = 0;
    bool listRetrieved_ = false;
    std::uint32_t raceCount_ = 0;
    std::vector<RaceEntry> races_;
    std::vector<std::uint32_t> rowOrder_;
};
