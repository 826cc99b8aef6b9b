#include "app/main_window.h"

#include <commctrl.h>

#include <memory>
#include <new>
#include <string>

#include "app/app_path.h"
#include "app/dialogs/dialogs.h"
#include "app/dialogs/show_error.h"
#include "app/website.h"
#include "common/error_text.h"
#include "common/win_handles.h"
#include "games/game_tab.h"
#include "res/resource.h"
#include "server/ip_lookup.h"
#include "server/server_request.h"
#include "wire/games.h"

HINSTANCE instanceHandle = nullptr;

namespace {

// The one main window's state.
int currentTabIndex = 0;
std::unique_ptr<IpLookup> ipLookup;
UniqueIcon largeIcon;
UniqueIcon smallIcon;
unsigned gameTabCount = 0;
std::unique_ptr<GameTab[]> gameTabs;

UniqueIcon loadIcon(int widthMetric, int heightMetric) {
    return UniqueIcon(static_cast<HICON>(LoadImageA(instanceHandle, MAKEINTRESOURCEA(IDI_KESTRUN), IMAGE_ICON,
                                                    GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric),
                                                    LR_DEFAULTCOLOR)));
}

void configureTab(GameTab& tab, const GameInfo& game) {
    const std::string keyPath = appPathKey(game.executable);
    tab.setGameId(std::string(game.id));
    tab.setExePath(readAppPath(keyPath, ""));
    tab.setWorkDir(readAppPath(keyPath, "Path"));
}

// Steps that must all succeed for the program to run.
void initialise(HWND window) {
    HMENU systemMenu = GetSystemMenu(window, FALSE);
    EnableMenuItem(systemMenu, SC_MAXIMIZE, MF_BYCOMMAND | MF_GRAYED);
    EnableMenuItem(systemMenu, SC_SIZE, MF_BYCOMMAND | MF_GRAYED);

    smallIcon = loadIcon(SM_CXSMICON, SM_CYSMICON);
    largeIcon = loadIcon(SM_CXICON, SM_CYICON);
    if (!smallIcon || !largeIcon) throw ErrorText("Error loading icons.");
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon.get()));

    gameTabCount = kGames.size();
    try {
        gameTabs.reset(new GameTab[gameTabCount]);
    } catch (const std::bad_alloc&) {
        throw ErrorText("Memory couldn't be allocated.");
    }
    for (unsigned i = 0; i < gameTabCount; ++i) configureTab(gameTabs[i], kGames[i]);

    HWND tabControl = GetDlgItem(window, IDC_GAME_TABS);
    if (tabControl == nullptr) throw ErrorText("Error retrieving game tabs.");
    for (unsigned i = 0; i < gameTabCount; ++i) {
        std::string label = gameTabs[i].gameId();
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = label.data();
        if (SendMessageA(tabControl, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item)) == -1)
            throw ErrorText("Error inserting game tab.");
    }

    HWND statusWindow = GetDlgItem(window, IDC_STATUS);
    if (statusWindow == nullptr) throw ErrorText("Error retrieving status window.");
    for (unsigned i = 0; i < gameTabCount; ++i) gameTabs[i].createPage(instanceHandle, tabControl, statusWindow);

    try {
        ipLookup = std::make_unique<IpLookup>(window);
    } catch (const std::bad_alloc&) {
        throw ErrorText("Memory couldn't be allocated.");
    }
    currentTabIndex = 0;
}

GameTab& currentTab() { return gameTabs[currentTabIndex]; }

void addRace(HWND window) {
    std::string name = getInput(instanceHandle, window, "Add race", "Race name:", static_cast<int>(kMaxRaceNameLength));
    if (name.empty() || !gameTabs) return;  // the dialog's loop may have seen the window go
    std::string ownIp = ipLookup->ip();
    currentTab().addRace(name, ownIp);
}

void showSettingsOf(HWND window) {
    std::string text = "not detected";
    if (ipLookup->hasIp()) text = ipLookup->ip();
    showSettings(instanceHandle, window, text);
}

// Runs one guarded handler: an error text is shown in the error box owned by the window.
template <typename Handler>
bool guarded(HWND window, Handler&& handler) {
    try {
        handler();
        return true;
    } catch (const ErrorText& e) {
        showError(window, e.text);
        return false;
    }
}

INT_PTR onCommand(HWND window, WPARAM wParam) {
    switch (wParam) {
    case IDC_REFRESH:
        guarded(window, [] { currentTab().refresh(); });
        return TRUE;
    case IDC_ADD_RACE:
        guarded(window, [window] { addRace(window); });
        return TRUE;
    case IDC_REMOVE_RACE:
        guarded(window, [] {
            std::string ownIp = ipLookup->ip();
            currentTab().removeRace(ownIp);
        });
        return TRUE;
    case IDC_LAUNCH_GAME:
        guarded(window, [] { currentTab().launchGame(); });
        return TRUE;
    case IDC_SETTINGS:
        guarded(window, [window] { showSettingsOf(window); });
        return TRUE;
    case IDC_ABOUT:
        showAbout(instanceHandle, window);
        return TRUE;
    case IDC_WEBSITE:
        openWebsite();
        return TRUE;
    case IDC_EXIT:
        DestroyWindow(window);
        return TRUE;
    default:
        return FALSE;
    }
}

// The one lifetime rule: whatever can reach an object forgets it as the object dies
// (gameTabs and ipLookup here, GameTab::currentTab for the pages' list views, the engine's
// weak reference for its completions on their way), and code that has run a modal loop (an
// error box, a dialog), in which this window and everything in it may have gone, reaches its
// object again only that way, or, most often, ends with the loop.
void onDestroy() {
    largeIcon.reset();
    smallIcon.reset();
    gameTabs.reset();
    ipLookup.reset();
    // Completions already posted to the dying windows are dropped here, and freed.
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_SERVER_COMPLETION, WM_SERVER_COMPLETION, PM_REMOVE))
        deliverServerCompletion(message.wParam, message.lParam);
    PostQuitMessage(0);
}

}  // namespace

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        if (!guarded(window, [window] { initialise(window); })) {
            DestroyWindow(window);
            return FALSE;
        }
        guarded(window, [] { gameTabs[0].show(); });
        return TRUE;
    case WM_NOTIFY:
        if (reinterpret_cast<const NMHDR*>(lParam)->code != TCN_SELCHANGE) return FALSE;
        guarded(window, [lParam] {
            currentTab().hide();
            LRESULT selected = SendMessageA(reinterpret_cast<const NMHDR*>(lParam)->hwndFrom, TCM_GETCURSEL, 0, 0);
            // Never index past the tabs, whatever the control says.
            if (selected >= 0 && selected < static_cast<LRESULT>(gameTabCount))
                currentTabIndex = static_cast<int>(selected);
            currentTab().show();
        });
        return TRUE;
    case WM_COMMAND:
        return onCommand(window, wParam);
    case WM_CLOSE:
        DestroyWindow(window);
        return TRUE;
    case WM_DESTROY:
        onDestroy();
        return TRUE;
    case WM_SERVER_COMPLETION:
        deliverServerCompletion(wParam, lParam);
        return TRUE;
    case WM_DPICHANGED:
        // The list views' columns follow the new screen; the dialog manager does the rest.
        for (unsigned i = 0; gameTabs && i < gameTabCount; ++i) gameTabs[i].scaleColumns(LOWORD(wParam));
        return FALSE;
    default:
        return FALSE;
    }
}
