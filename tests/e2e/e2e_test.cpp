// The real client against the real lobby (or against no lobby, or one that never answers),
// driven like a player drives it. run_e2e.sh starts the server side and passes, through the
// environment: KESTRUN_E2E_CLIENT (the client), KESTRUN_E2E_GAME (a stand-in game),
// KESTRUN_E2E_WORK (a scratch folder), KESTRUN_E2E_BROWSER (a Unix program that records the
// address it is given) and KESTRUN_E2E_BROWSER_LOG (where it records it).
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client_driver.h"
#include "lobby_queries.h"
#include "res/resource.h"
#include "wine_registry.h"
#include "wire/text_rules.h"

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

const std::string kSite = KESTRUN_E2E_SITE;

// A GET of the lobby's script, as the test's own check of what the lobby holds.
std::string lobbyGet(const std::string& query) {
    std::string body;
    HINTERNET internet = InternetOpenA("Kestrun e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet) return body;
    std::string url = kSite + "server/server.php?" + query;
    HINTERNET request = InternetOpenUrlA(internet, url.c_str(), nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (request) {
        char buffer[4096];
        DWORD read = 0;
        while (InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) body.append(buffer, read);
        InternetCloseHandle(request);
    }
    InternetCloseHandle(internet);
    return body;
}

struct LobbyRace {
    std::string name;
    std::string ip;
    unsigned long long created = 0;
};

std::vector<LobbyRace> lobbyRaces(const std::string& game) {
    std::istringstream body(lobbyGet(raceListQuery(game)));
    std::string line;
    std::vector<LobbyRace> races;
    std::getline(body, line);  // OK
    std::getline(body, line);  // retrieval time
    std::getline(body, line);  // count
    while (std::getline(body, line)) {
        line = std::string(withoutLineEnd(line));
        std::size_t a = line.find(','), b = line.find(',', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        auto ip = static_cast<std::uint32_t>(std::stoul(line.substr(a + 1, b - a - 1)));
        races.push_back({line.substr(0, a), formatIp(ip), std::stoull(line.substr(b + 1))});
    }
    return races;
}

std::vector<std::string> names(const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) result.push_back(row.at(0));
    return result;
}

bool hasRace(const std::vector<LobbyRace>& races, const std::string& name) {
    return std::any_of(races.begin(), races.end(), [&](const LobbyRace& r) { return r.name == name; });
}

// App Paths entries of the games, written for one test and removed afterwards.
const char* const kAppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

void removeAppPaths() {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kAppPaths) + "nfsHs.exe").c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kAppPaths) + "Porsche.exe").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kAppPaths) + "nfsHs.exe").c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kAppPaths) + "Porsche.exe").c_str());
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string client = env("KESTRUN_E2E_CLIENT");
        ASSERT_FALSE(client.empty()) << "run through run_e2e.sh";
        keepWindowsUnmanaged(client.substr(client.find_last_of("\\/") + 1));
        removeAppPaths();
    }
    void TearDown() override { removeAppPaths(); }

    std::unique_ptr<KestrunClient> start() {
        auto client = std::make_unique<KestrunClient>(env("KESTRUN_E2E_CLIENT"));
        EXPECT_TRUE(client->started()) << "the main window did not appear";
        return client;
    }

    // Started, and the first list is in.
    std::unique_ptr<KestrunClient> startWithList() {
        auto client = start();
        if (client->started()) {
            EXPECT_TRUE(client->waitForStatus("Retrieved NFS4 race list from server.")) << client->status();
        }
        return client;
    }

    static void expectExitCodeZero(KestrunClient& client, std::chrono::milliseconds within = 20s) {
        DWORD code = 12345;
        ASSERT_TRUE(client.waitForExit(code, within)) << "the client did not end";
        EXPECT_EQ(code, 0u);
    }
};

// --- with the real lobby, seeded with demonstration races ---

TEST_F(EndToEnd, StartUpShowsTheNfs4ListNewestFirst) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    // A fixed-size window: no sizing border, no minimise or maximise box.
    LONG style = GetWindowLongA(client->window(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX), 0);
    EXPECT_NE(style & WS_SYSMENU, 0);
    HWND tabs = GetDlgItem(client->window(), IDC_GAME_TABS);
    EXPECT_EQ(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), 0);

    std::vector<LobbyRace> lobby = lobbyRaces("NFS4");
    ASSERT_GE(lobby.size(), 2u) << "the lobby was not seeded";
    std::stable_sort(lobby.begin(), lobby.end(), [](const LobbyRace& a, const LobbyRace& b) {
        return a.created > b.created;
    });

    auto rows = client->rows();
    ASSERT_EQ(rows.size(), lobby.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i][0], lobby[i].name) << "row " << i;
        EXPECT_EQ(rows[i][1], lobby[i].ip) << "row " << i;
        EXPECT_FALSE(rows[i][2].empty()) << "row " << i;
    }
    EXPECT_EQ(client->roomCount(), std::to_string(lobby.size()));
    EXPECT_NE(client->retrievedOn(), "not retrieved");
    EXPECT_NE(client->retrievedOn(), "");

    // "Race name" sorts ascending; a second click reverses.
    client->clickColumnHeader(0);
    std::vector<std::string> ascending;
    for (const auto& race : lobby) ascending.push_back(race.name);
    std::sort(ascending.begin(), ascending.end());
    EXPECT_TRUE(pollUntil([&] { return names(client->rows()) == ascending; }));
    client->clickColumnHeader(0);
    std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
    EXPECT_TRUE(pollUntil([&] { return names(client->rows()) == descending; }));

    client->click(IDC_EXIT);
    expectExitCodeZero(*client);
}

TEST_F(EndToEnd, SwitchingToNfs5FetchesItsListOnce) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    client->selectTab(1);
    ASSERT_TRUE(client->waitForStatus("Retrieved NFS5 race list from server.")) << client->status();
    std::vector<LobbyRace> lobby = lobbyRaces("NFS5");
    ASSERT_TRUE(pollUntil([&] { return client->rows().size() == lobby.size(); }));
    EXPECT_EQ(client->roomCount(), std::to_string(lobby.size()));

    // A race announced now is not seen by switching back and forth: no second fetch.
    ASSERT_EQ(lobbyGet(raceAddQuery("NFS5", "Late%20arrival", "2130706433")).substr(0, 2), "OK");
    HWND nfs5Page = client->page();
    client->selectTab(0);
    ASSERT_TRUE(pollUntil([&] { return client->page() != nfs5Page && client->page() != nullptr; }));
    EXPECT_EQ(client->status(), "Retrieved NFS5 race list from server.");  // NFS4 is not fetched again
    client->selectTab(1);
    ASSERT_TRUE(pollUntil([&] { return client->page() == nfs5Page; }));
    EXPECT_EQ(client->status(), "Retrieved NFS5 race list from server.");
    EXPECT_FALSE(hasRace(lobbyRaces("NFS4"), "Late arrival"));
    auto shown = names(client->rows());
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "Late arrival"), 0);

    // "Refresh List" does fetch it.
    client->click(IDC_REFRESH);
    EXPECT_TRUE(pollUntil([&] {
        auto now = names(client->rows());
        return std::count(now.begin(), now.end(), "Late arrival") == 1;
    }));
    EXPECT_TRUE(client->waitForStatus("Retrieved NFS5 race list from server."));
}

TEST_F(EndToEnd, AddingARaceThroughTheDialogAndRemovingIt) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());

    HWND dialog = client->openDialog(IDC_ADD_RACE, "Add race");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(controlText(dialog, IDC_INPUT_PROMPT), "Race name:");
    HWND edit = GetDlgItem(dialog, IDC_INPUT_TEXT);
    clickWindow(edit);
    typeKeys("Bad.Name");
    ASSERT_TRUE(pollUntil([&] { return windowText(edit) == "Bad.Name"; }));
    pressVirtualKey(VK_RETURN);
    EXPECT_EQ(client->takeError(), "Only alphanumeric characters are allowed.");
    ASSERT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(windowText(edit), "Bad.Name");

    clickWindow(edit);
    pressVirtualKey(VK_END);
    for (int i = 0; i < 8; ++i) pressVirtualKey(VK_BACK);
    typeKeys("E2E Race's run_1");
    ASSERT_TRUE(pollUntil([&] { return windowText(edit) == "E2E Race's run_1"; })) << windowText(edit);
    clickWindow(GetDlgItem(dialog, IDOK));
    ASSERT_TRUE(pollUntil([&] { return windowGone(dialog); }));

    ASSERT_TRUE(pollUntil([&] {
        auto rows = client->rows();
        return !rows.empty() && rows[0][0] == "E2E Race's run_1";
    })) << "the new race is not the newest row";
    EXPECT_EQ(client->rows()[0][1], "127.0.0.1");
    EXPECT_TRUE(client->waitForStatus("Retrieved NFS4 race list from server."));
    EXPECT_TRUE(hasRace(lobbyRaces("NFS4"), "E2E Race's run_1"));
    EXPECT_FALSE(hasRace(lobbyRaces("NFS5"), "E2E Race's run_1"));

    client->click(IDC_REMOVE_RACE);
    ASSERT_TRUE(pollUntil([&] {
        auto now = names(client->rows());
        return std::count(now.begin(), now.end(), "E2E Race's run_1") == 0 && !now.empty();
    }));
    EXPECT_TRUE(client->waitForStatus("Retrieved NFS4 race list from server."));
    EXPECT_FALSE(hasRace(lobbyRaces("NFS4"), "E2E Race's run_1"));
}

TEST_F(EndToEnd, SettingsShowsTheAddressTheLobbySees) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    std::string shown;
    // The lookup may still be on its way: "not detected" until it is in.
    ASSERT_TRUE(pollUntil([&] {
        HWND settings = client->openDialog(IDC_SETTINGS, "Settings");
        if (!settings) return false;
        shown = controlText(settings, IDC_SETTINGS_IP);
        clickWindow(GetDlgItem(settings, IDOK));
        pollUntil([&] { return windowGone(settings); });
        return shown != "not detected";
    }));
    EXPECT_EQ(shown, "127.0.0.1");
}

TEST_F(EndToEnd, AboutShowsTheSiteAndClosesWithEnter) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    HWND about = client->openDialog(IDC_ABOUT, "About");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(controlText(about, IDC_ABOUT_SITE), kSite);
    EXPECT_EQ(controlText(about, IDC_ABOUT_CONTACT), kSite);
    EXPECT_FALSE(IsWindowEnabled(client->window()));  // modal: the main window waits
    pressVirtualKey(VK_RETURN);
    EXPECT_TRUE(pollUntil([&] { return windowGone(about); }));
    EXPECT_TRUE(pollUntil([&] { return IsWindowEnabled(client->window()) != FALSE; }));
}

TEST_F(EndToEnd, LaunchGameWithoutAppPathsEntriesSaysSo) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    client->click(IDC_LAUNCH_GAME);
    EXPECT_EQ(client->takeError(), "NFS4 registry entry couldn't be read.");
    client->selectTab(1);
    ASSERT_TRUE(client->waitForStatus("Retrieved NFS5 race list from server."));
    client->click(IDC_LAUNCH_GAME);
    EXPECT_EQ(client->takeError(), "NFS5 registry entry couldn't be read.");
}

TEST_F(EndToEnd, LaunchGameStartsTheInstalledGameInItsFolder) {
    std::string folder = env("KESTRUN_E2E_WORK") + "\\Need For Speed " + std::to_string(GetCurrentProcessId());
    std::string exe = folder + "\\nfsHs.exe";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileA(env("KESTRUN_E2E_GAME").c_str(), exe.c_str(), FALSE));
    std::string marker = folder + "\\launch.txt";
    DeleteFileA(marker.c_str());

    HKEY key = createRegistryKey(HKEY_LOCAL_MACHINE, std::string(kAppPaths) + "nfsHs.exe");
    ASSERT_NE(key, nullptr);
    setRegistryText(key, nullptr, exe);
    setRegistryText(key, "Path", folder);
    RegCloseKey(key);

    auto client = startWithList();
    ASSERT_TRUE(client->started());
    client->click(IDC_LAUNCH_GAME);
    ASSERT_TRUE(pollUntil([&] { return GetFileAttributesA(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }))
        << "the game was not started";
    std::string commandLine, workDir;
    ASSERT_TRUE(pollUntil([&] {
        std::ifstream in(marker);
        std::getline(in, commandLine);
        std::getline(in, workDir);
        return !workDir.empty();
    }));
    EXPECT_EQ(commandLine, "\"" + exe + "\"");
    EXPECT_EQ(workDir, folder);
    EXPECT_EQ(client->status(), "Retrieved NFS4 race list from server.");  // launching says nothing

    // The second game is not installed.
    client->selectTab(1);
    ASSERT_TRUE(client->waitForStatus("Retrieved NFS5 race list from server."));
    client->click(IDC_LAUNCH_GAME);
    EXPECT_EQ(client->takeError(), "NFS5 registry entry couldn't be read.");
}

TEST_F(EndToEnd, WebsiteHandsTheSiteAddressToTheBrowser) {
    std::string recorder = env("KESTRUN_E2E_BROWSER");
    std::string log = env("KESTRUN_E2E_BROWSER_LOG");
    ASSERT_FALSE(recorder.empty());
    HKEY key = createRegistryKey(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser");
    ASSERT_NE(key, nullptr);
    char previous[1024] = {};
    DWORD previousSize = sizeof previous;
    bool hadPrevious = RegQueryValueExA(key, "Browsers", nullptr, nullptr, reinterpret_cast<BYTE*>(previous),
                                        &previousSize) == ERROR_SUCCESS;
    setRegistryText(key, "Browsers", recorder);

    // The addresses the browser was given, once there are `count` of them.
    auto recorded = [&](std::size_t count) {
        std::vector<std::string> lines;
        pollUntil([&] {
            std::ifstream in(log);
            lines.clear();
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            return lines.size() >= count;
        });
        return lines;
    };
    {
        auto client = startWithList();
        if (client->started()) {
            client->click(IDC_WEBSITE);
            EXPECT_EQ(recorded(1), std::vector<std::string>{kSite}) << "the browser was not started";
            // The race menu's third item: the page for hosts, through the same shell verb.
            EXPECT_TRUE(client->chooseFromRowMenu(1, 2)) << "no menu on the race";
            EXPECT_EQ(recorded(2), (std::vector<std::string>{kSite, kSite + "check"}));
            EXPECT_EQ(client->status(), "Retrieved NFS4 race list from server.");
        }
    }
    if (hadPrevious)
        RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous), previousSize);
    else
        RegDeleteValueA(key, "Browsers");
    RegCloseKey(key);
}

TEST_F(EndToEnd, EscapeAndEnterDoNothingAndExitEndsWithCodeZero) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    SetForegroundWindow(client->window());
    client->selectTab(0);  // the focus is on the tab control, as after start-up
    pressVirtualKey(VK_ESCAPE);
    pressVirtualKey(VK_RETURN);
    // Input is handled in order: once Settings has opened, Escape and Enter were handled.
    HWND settings = client->openDialog(IDC_SETTINGS, "Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(IsWindow(client->window()));
    EXPECT_TRUE(IsWindowVisible(client->window()));
    EXPECT_EQ(client->status(), "Retrieved NFS4 race list from server.");
    pressVirtualKey(VK_ESCAPE);  // closes Settings
    ASSERT_TRUE(pollUntil([&] { return windowGone(settings); }));
    EXPECT_TRUE(IsWindow(client->window()));

    client->click(IDC_EXIT);
    expectExitCodeZero(*client);
}

TEST_F(EndToEnd, TheCloseBoxEndsWithCodeZero) {
    auto client = startWithList();
    ASSERT_TRUE(client->started());
    PostMessageA(client->window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    expectExitCodeZero(*client);
}

// --- with no lobby at all ---

TEST_F(EndToEnd, LobbyDownAtStartShowsTheTransportErrorThenNoAddress) {
    auto client = start();
    ASSERT_TRUE(client->started());
    // One error for the address lookup, one for the NFS4 list; the second box opens while
    // the first is still up, on top of it.
    ASSERT_TRUE(pollUntil([&] { return client->errorBoxCount() == 2; })) << client->errorBoxCount();
    std::string first = client->takeError();
    std::string second = client->takeError();
    EXPECT_EQ(first, "Error completing server request.");
    EXPECT_EQ(second, "Error completing server request.");
    EXPECT_TRUE(client->waitForStatus("Error completing server request."));
    EXPECT_EQ(client->errorBoxCount(), 0);

    client->click(IDC_REMOVE_RACE);
    EXPECT_EQ(client->takeError(), "IP hasn't been retrieved.");

    // Add Race asks for the name first, then finds no address; nothing is sent.
    HWND dialog = client->openDialog(IDC_ADD_RACE, "Add race");
    ASSERT_NE(dialog, nullptr);
    clickWindow(GetDlgItem(dialog, IDC_INPUT_TEXT));
    typeKeys("Nobody");
    ASSERT_TRUE(pollUntil([&] { return controlText(dialog, IDC_INPUT_TEXT) == "Nobody"; }));
    pressVirtualKey(VK_RETURN);
    EXPECT_EQ(client->takeError(), "IP hasn't been retrieved.");
    EXPECT_EQ(client->status(), "Error completing server request.");

    HWND settings = client->openDialog(IDC_SETTINGS, "Settings");
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(controlText(settings, IDC_SETTINGS_IP), "not detected");
    clickWindow(GetDlgItem(settings, IDOK));
    ASSERT_TRUE(pollUntil([&] { return windowGone(settings); }));

    client->click(IDC_EXIT);
    expectExitCodeZero(*client);
}

// --- with a lobby that accepts connections and never answers ---

TEST_F(EndToEnd, ExitWhileARequestIsInFlightEndsPromptlyWithCodeZero) {
    auto client = start();
    ASSERT_TRUE(client->started());
    ASSERT_TRUE(client->waitForStatus("Retrieving NFS4 race list from server..."));
    client->selectTab(1);
    ASSERT_TRUE(client->waitForStatus("Retrieving NFS5 race list from server..."));
    client->click(IDC_EXIT);
    expectExitCodeZero(*client, 10s);
}

}  // namespace
