// A game tab with its real page and list view inside a real tab control, against the
// scriptable loopback server.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "common/error_text.h"
#include "error_boxes.h"
#include "games/game_tab.h"
#include "games/time_text.h"
#include "race_lists.h"
#include "res/resource.h"
#include "tab_host.h"
#include "test_http_server.h"
#include "ui_pump.h"
#include "window_driver.h"

using namespace std::chrono_literals;

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct Race {
    std::string name;
    std::uint32_t ip;
    std::string ipText;
    std::uint32_t created;
};
using Races = std::vector<Race>;

// Server order; newest first is B, ab, b, a. 192.168.0.1 is above 2^31.
const std::vector<Race> kRaces = {
    {"b", 167772162u, "10.0.0.2", 1007000000u},
    {"B", 3232235521u, "192.168.0.1", 1007000300u},
    {"a", 16909060u, "1.2.3.4", 1006999000u},
    {"ab", 167772161u, "10.0.0.1", 1007000100u},
};
constexpr std::uint32_t kRetrievedOn = 1007000400u;

std::vector<std::string> expectedRow(const Race& race) {
    return {race.name, race.ipText, formatTimestamp(race.created)};
}

Rows expectedRows(const std::vector<int>& serverIndices) {
    Rows rows;
    for (int i : serverIndices) rows.push_back(expectedRow(kRaces[static_cast<std::size_t>(i)]));
    return rows;
}

class GameTabTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.setHandler([this](const RecordedRequest& r) {
            std::lock_guard lock(mutex);
            auto it = replies.find(r.query("action"));
            return it != replies.end() ? it->second : Reply::ok("OK\n");
        });
        tab = std::make_unique<GameTab>(server.baseUrl());
        tab->setGameId("NFS4");
        tab->createPage(GetModuleHandleA(nullptr), host.tabControl(), host.status());
    }
    void TearDown() override {
        boxes.setBeforeDismiss({});
        tab.reset();
        EXPECT_TRUE(requestsReleased());
    }

    void reply(const std::string& action, Reply r) {
        std::lock_guard lock(mutex);
        replies[action] = std::move(r);
    }
    void reply(const std::string& action, const std::string& body) { reply(action, Reply::ok(body)); }
    bool waitIdle() { return pumpUntil([&] { return tab->idle(); }); }
    void loadList(const std::string& body) {
        reply("racelist", body);
        tab->refresh();
        ASSERT_FALSE(tab->idle());
        ASSERT_TRUE(waitIdle());
    }

    int rowCount() const { return static_cast<int>(SendMessageA(tab->listView(), LVM_GETITEMCOUNT, 0, 0)); }
    std::string cell(int row, int column) const {
        char text[256] = {};
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(tab->listView(), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return text;
    }
    Rows rows() const {
        Rows all;
        for (int r = 0; r < rowCount(); ++r) all.push_back({cell(r, 0), cell(r, 1), cell(r, 2)});
        return all;
    }
    std::string control(int id) const { return controlText(tab->pageWindow(), id); }
    // The notification the list view sends when its header is clicked.
    void notifyColumnClick(int column) const {
        NMLISTVIEW click{};
        click.hdr.hwndFrom = tab->listView();
        click.hdr.idFrom = IDC_RACE_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = column;
        SendMessageA(tab->pageWindow(), WM_NOTIFY, IDC_RACE_LIST, reinterpret_cast<LPARAM>(&click));
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> all;
        for (const auto& r : server.requests()) all.push_back(r.target);
        return all;
    }

    std::mutex mutex;
    std::map<std::string, Reply> replies;
    ErrorBoxWatcher boxes;
    TestHttpServer server;
    TabHost host;
    std::unique_ptr<GameTab> tab;
};

const std::string kListTarget = "/server/server.php?action=racelist&game=NFS4";

TEST_F(GameTabTest, NewPageIsHiddenEmptyCentredAndHasItsThreeColumns) {
    HWND page = tab->pageWindow();
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(GetParent(page), host.tabControl());
    EXPECT_FALSE(IsWindowVisible(page));
    EXPECT_EQ(control(IDC_ROOM_COUNT), "0");
    EXPECT_EQ(control(IDC_RETRIEVED_ON), "not retrieved");
    EXPECT_EQ(tab->listView(), GetDlgItem(page, IDC_RACE_LIST));
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(host.statusText(), "Ready...");

    const LONG style = GetWindowLongA(tab->listView(), GWL_STYLE);
    EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(style & LVS_SINGLESEL);
    EXPECT_EQ(SendMessageA(tab->listView(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0);

    const std::tuple<const char*, int> columns[] = {{"Race name", 110}, {"Race IP", 95}, {"Created on", 125}};
    for (int i = 0; i < 3; ++i) {
        char text[64] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        column.pszText = text;
        column.cchTextMax = sizeof text;
        ASSERT_TRUE(SendMessageA(tab->listView(), LVM_GETCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(text, std::get<0>(columns[i]));
        EXPECT_EQ(column.cx, std::get<1>(columns[i]));
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        EXPECT_EQ(column.iSubItem, i);
    }

    RECT display{};
    GetClientRect(host.tabControl(), &display);
    SendMessageA(host.tabControl(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    RECT placed{};
    GetWindowRect(page, &placed);
    MapWindowPoints(nullptr, host.tabControl(), reinterpret_cast<POINT*>(&placed), 2);
    const int w = placed.right - placed.left, h = placed.bottom - placed.top;
    EXPECT_EQ(placed.left, display.left + ((display.right - display.left) - w) / 2);
    EXPECT_EQ(placed.top, display.top + ((display.bottom - display.top) - h) / 2 + 1);

    // A header click before any list sorts nothing and remembers the column.
    tab->show();
    notifyColumnClick(1);
    EXPECT_EQ(tab->sortColumn(), 2);
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(GameTabTest, FirstShowFetchesTheListAndShowsItNewestFirst) {
    reply("racelist", raceListBody(kRetrievedOn, kRaces));
    tab->show();
    EXPECT_TRUE(IsWindowVisible(tab->pageWindow()));
    EXPECT_EQ(GameTab::currentTab(), tab.get());
    EXPECT_EQ(host.statusText(), "Retrieving NFS4 race list from server...");
    ASSERT_TRUE(waitIdle());

    EXPECT_EQ(targets(), std::vector<std::string>{kListTarget});
    EXPECT_EQ(host.statusText(), "Retrieved NFS4 race list from server.");
    EXPECT_EQ(control(IDC_ROOM_COUNT), "4");
    EXPECT_EQ(control(IDC_RETRIEVED_ON), formatTimestamp(kRetrievedOn));
    EXPECT_EQ(rows(), expectedRows({1, 3, 0, 2}));
    EXPECT_EQ(tab->sortColumn(), 3);
    EXPECT_TRUE(tab->listRetrieved());
    EXPECT_EQ(tab->retrievedOn(), kRetrievedOn);

    // A retrieved list is not asked for again when the page comes back.
    tab->hide();
    EXPECT_FALSE(IsWindowVisible(tab->pageWindow()));
    EXPECT_EQ(GameTab::currentTab(), nullptr);
    tab->show();
    pumpFor(300ms);
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(GameTabTest, ReadsTheWireExampleWithCarriageReturns) {
    tab->show();
    loadList("OK\r\n1007000000\r\n1\r\nRace one,16909060,1007000000\r\n");
    ASSERT_EQ(tab->raceCount(), 1u);
    EXPECT_EQ(rows(), (Rows{{"Race one", "1.2.3.4", formatTimestamp(1007000000u)}}));
    EXPECT_EQ(control(IDC_ROOM_COUNT), "1");
    EXPECT_EQ(control(IDC_RETRIEVED_ON), formatTimestamp(1007000000u));

    loadList("OK\n0\n0\n");
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(control(IDC_ROOM_COUNT), "0");
    EXPECT_EQ(control(IDC_RETRIEVED_ON), formatTimestamp(0));
    EXPECT_EQ(host.statusText(), "Retrieved NFS4 race list from server.");
}

TEST_F(GameTabTest, HeaderClicksSortAndASecondClickReverses) {
    tab->show();
    loadList(raceListBody(kRetrievedOn, kRaces));
    struct Step {
        int column;
        std::vector<int> order;
        int sortColumn;
    };
    const Step steps[] = {
        {0, {1, 2, 3, 0}, 1},  // B a ab b: capitals first
        {0, {0, 3, 2, 1}, 1},  // reversed
        {0, {1, 2, 3, 0}, 1},  // and back
        {1, {2, 3, 0, 1}, 2},  // addresses as unsigned numbers
        {2, {1, 3, 0, 2}, 3},  // newest first
        {2, {2, 0, 3, 1}, 3},  // oldest first
    };
    for (const auto& step : steps) {
        notifyColumnClick(step.column);
        EXPECT_EQ(rows(), expectedRows(step.order)) << "after a click on column " << step.column;
        EXPECT_EQ(tab->sortColumn(), step.sortColumn);
    }

    // A real click on the header of "Race name" comes the same way.
    HWND header = reinterpret_cast<HWND>(SendMessageA(tab->listView(), LVM_GETHEADER, 0, 0));
    RECT item{};
    ASSERT_TRUE(SendMessageA(header, HDM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item)));
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(header, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(tab->sortColumn(), 1);
    EXPECT_EQ(rows(), expectedRows({1, 2, 3, 0}));
}

TEST_F(GameTabTest, EqualKeysFollowTheTieRule) {
    tab->show();
    std::vector<Race> same = {
        {"n", 4u, "0.0.0.4", 50u}, {"n", 3u, "0.0.0.3", 50u}, {"n", 2u, "0.0.0.2", 50u}, {"n", 1u, "0.0.0.1", 50u}};
    loadList(raceListBody(kRetrievedOn, same));
    auto ips = [&] {
        std::vector<std::string> column;
        for (int r = 0; r < rowCount(); ++r) column.push_back(cell(r, 1));
        return column;
    };
    EXPECT_EQ(ips(), (std::vector<std::string>{"0.0.0.4", "0.0.0.2", "0.0.0.1", "0.0.0.3"}));  // races 0 2 3 1
    notifyColumnClick(0);
    EXPECT_EQ(ips(), (std::vector<std::string>{"0.0.0.3", "0.0.0.1", "0.0.0.2", "0.0.0.4"}));  // races 1 3 2 0
}

TEST_F(GameTabTest, DisplayRequestsCopyIntoTheOfferedBufferAndNoFurther) {
    tab->show();
    loadList(raceListBody(kRetrievedOn, Races{{"Race one", 16909060u, "1.2.3.4", 1007000000u}}));
    auto request = [&](int row, int column, int capacity) {
        std::string buffer(16, '#');
        NMLVDISPINFOA info{};
        info.hdr.hwndFrom = tab->listView();
        info.hdr.idFrom = IDC_RACE_LIST;
        info.hdr.code = LVN_GETDISPINFOA;
        info.item.mask = LVIF_TEXT;
        info.item.iItem = row;
        info.item.iSubItem = column;
        info.item.pszText = buffer.data();
        info.item.cchTextMax = capacity;
        SendMessageA(tab->pageWindow(), WM_NOTIFY, IDC_RACE_LIST, reinterpret_cast<LPARAM>(&info));
        return buffer;
    };
    EXPECT_EQ(request(0, 0, 16), std::string("Race one\0#######", 16));
    EXPECT_EQ(request(0, 0, 4), std::string("Rac\0############", 16));
    EXPECT_EQ(request(0, 1, 1), std::string("\0###############", 16));
    EXPECT_EQ(request(0, 3, 16), std::string(16, '#'));
    EXPECT_EQ(request(1, 0, 16), std::string(16, '#'));
    EXPECT_EQ(request(-1, 0, 16), std::string(16, '#'));
    tab->hide();  // no current tab: nobody answers
    EXPECT_EQ(request(0, 0, 16), std::string(16, '#'));
}

struct FailedList {
    const char* what;
    std::string body;
    std::string error;
    bool listCleared;
    std::uint32_t retrievedOn;
};

TEST_F(GameTabTest, FailedListsLeaveExactlyWhatTheyShould) {
    tab->show();
    const std::string good = raceListBody(kRetrievedOn, Races{kRaces[0], kRaces[1]});
    const FailedList cases[] = {
        {"no line feed", "OK", "Invalid server response.", false, kRetrievedOn},
        {"unknown status", "Hello\n1\n", "Unknown server response.", false, kRetrievedOn},
        {"server error", "ERROR\r\nNo such game.\r\nTry later.\r\n", "No such game.\r\nTry later.\r\n", false,
         kRetrievedOn},
        {"server error without text", "ERROR\n", "", false, kRetrievedOn},
        {"nothing after OK", "OK\n", "Invalid server response.", true, kRetrievedOn},
        {"no count", "OK\n77\n", "Invalid server response.", true, 77u},
        {"count 2, one record", "OK\n78\n2\na,1,2\n", "Invalid server response.", true, 78u},
        {"record without its line feed", "OK\n79\n1\na,1,2", "Invalid server response.", true, 79u},
        {"record with one comma", "OK\n80\n1\nname,5\n", "Invalid server response.", true, 80u},
        {"count far beyond the body", "OK\n81\n4000000000\nrace,16909060,1007000000\n", "Invalid server response.",
         true, 81u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        loadList(good);
        ASSERT_EQ(rowCount(), 2);
        const std::size_t boxesBefore = boxes.count();
        host.clearStatusHistory();

        reply("racelist", c.body);
        tab->refresh();
        ASSERT_TRUE(waitIdle());
        ASSERT_EQ(boxes.count(), boxesBefore + 1);
        const SeenErrorBox box = boxes.boxes().back();
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.text, c.error);
        const std::string firstLine = c.error.substr(0, c.error.find('\n'));
        EXPECT_EQ(host.statusHistory(), (std::vector<std::string>{"Retrieving NFS4 race list from server...",
                                                                   firstLine.substr(0, firstLine.find('\r'))}));
        EXPECT_FALSE(tab->listRetrieved());
        EXPECT_EQ(rowCount(), c.listCleared ? 0 : 2);
        EXPECT_EQ(tab->raceCount(), c.listCleared ? 0u : 2u);
        EXPECT_EQ(tab->races().size(), tab->raceCount());
        EXPECT_EQ(tab->retrievedOn(), c.retrievedOn);
        // The read-outs keep the last good list's values either way.
        EXPECT_EQ(control(IDC_ROOM_COUNT), "2");
        EXPECT_EQ(control(IDC_RETRIEVED_ON), formatTimestamp(kRetrievedOn));
        if (!c.listCleared) {
            EXPECT_EQ(rows(), expectedRows({1, 0}));
        }
    }
    // A good list replaces whatever a failed one left.
    loadList(good);
    EXPECT_EQ(rows(), expectedRows({1, 0}));
    EXPECT_TRUE(tab->listRetrieved());
}

TEST_F(GameTabTest, AddAndRemoveSendTheirDataAndEndInAFreshList) {
    tab->show();
    loadList(raceListBody(kRetrievedOn, kRaces));
    const std::size_t before = server.requestCount();
    reply("raceadd", "OK\r\nanything\n");
    reply("racerem", "OK\n");
    reply("racelist", raceListBody(kRetrievedOn + 1, Races{kRaces[2]}));

    host.clearStatusHistory();
    tab->addRace("Test1", "10.0.0.1");
    ASSERT_TRUE(pumpUntil([&] { return tab->idle() && server.requestCount() == before + 2; }));
    EXPECT_EQ(host.statusHistory(),
              (std::vector<std::string>{"Adding race to NFS4 race list...", "Added race to NFS4 race list.",
                                        "Retrieving NFS4 race list from server...",
                                        "Retrieved NFS4 race list from server."}));
    EXPECT_EQ(rows(), expectedRows({2}));

    host.clearStatusHistory();
    tab->removeRace("300.1.1.1");
    ASSERT_TRUE(pumpUntil([&] { return tab->idle() && server.requestCount() == before + 4; }));
    EXPECT_EQ(host.statusHistory(),
              (std::vector<std::string>{"Removing race from NFS4 race list...", "Removed race from NFS4 race list.",
                                        "Retrieving NFS4 race list from server...",
                                        "Retrieved NFS4 race list from server."}));
    tab->removeRace("192.168.0.1");
    ASSERT_TRUE(pumpUntil([&] { return tab->idle() && server.requestCount() == before + 6; }));

    auto all = targets();
    const std::vector<std::string> sent(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    EXPECT_EQ(sent, (std::vector<std::string>{
                        "/server/server.php?action=raceadd&game=NFS4&data=name:Test1;ip:167772161", kListTarget,
                        "/server/server.php?action=racerem&game=NFS4&data=ip:0", kListTarget,
                        "/server/server.php?action=racerem&game=NFS4&data=ip:3232235521", kListTarget}));
    EXPECT_EQ(boxes.count(), 0u);
}

TEST_F(GameTabTest, FailedAddOrRemoveReportsAndFetchesNothing) {
    tab->show();
    loadList(raceListBody(kRetrievedOn, kRaces));
    const std::size_t before = server.requestCount();
    reply("raceadd", "OK");
    reply("racerem", "ERROR\nNo race of yours.\n");
    tab->addRace("Test1", "10.0.0.1");
    ASSERT_TRUE(waitIdle());
    tab->removeRace("10.0.0.1");
    ASSERT_TRUE(waitIdle());
    pumpFor(200ms);
    EXPECT_EQ(server.requestCount(), before + 2);
    auto seen = boxes.boxes();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Invalid server response.");
    EXPECT_EQ(seen[1].text, "No race of yours.\n");
    EXPECT_EQ(host.statusText(), "No race of yours.");
    EXPECT_TRUE(tab->listRetrieved());
    EXPECT_EQ(rowCount(), 4);
}

TEST_F(GameTabTest, CommandsWhileWaitingAreDropped) {
    Reply slow = Reply::ok(raceListBody(kRetrievedOn, kRaces));
    slow.delayMs = 400;
    reply("racelist", slow);
    tab->show();
    ASSERT_FALSE(tab->idle());
    tab->refresh();
    tab->addRace("Test1", "10.0.0.1");
    tab->removeRace("10.0.0.1");
    tab->show();
    EXPECT_FALSE(tab->listRetrieved());
    EXPECT_EQ(host.statusHistory(), std::vector<std::string>{"Retrieving NFS4 race list from server..."});
    ASSERT_TRUE(waitIdle());
    pumpFor(300ms);
    EXPECT_EQ(targets(), std::vector<std::string>{kListTarget});
    EXPECT_TRUE(tab->listRetrieved());
    EXPECT_EQ(rowCount(), 4);
}

TEST_F(GameTabTest, ErrorsPutTheirFirstLineInTheStatusLineAndTheWholeTextInTheBox) {
    tab->show();
    ASSERT_TRUE(waitIdle());
    const std::size_t before = boxes.count();
    tab->reportError("First line\r\nsecond line\nthird");
    EXPECT_EQ(host.statusText(), "First line");
    tab->handleResponse("RACELIST", "OK\n0\n0\n");
    EXPECT_EQ(host.statusText(), "Invalid server action: RACELIST");
    EXPECT_TRUE(tab->idle());

    Reply missing = Reply::ok("OK\n0\n0\n");
    missing.status = 404;
    reply("racelist", missing);
    tab->refresh();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(host.statusText(), "Error retrieving server response: 404");

    auto seen = boxes.boxes();
    ASSERT_EQ(seen.size(), before + 3);
    EXPECT_EQ(seen[before].text, "First line\r\nsecond line\nthird");
    EXPECT_EQ(seen[before + 1].text, "Invalid server action: RACELIST");
    EXPECT_EQ(seen[before + 2].text, "Error retrieving server response: 404");
    for (std::size_t i = before; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].caption, "Error");
        EXPECT_EQ(GetAncestor(seen[i].owner, GA_ROOT), host.window());
    }
}

TEST_F(GameTabTest, UnreachableServerEndsTheExchangeWithATransportError) {
    GameTab lonely(unreachableServerUrl());
    lonely.setGameId("NFS5");
    lonely.createPage(GetModuleHandleA(nullptr), host.tabControl(), host.status());
    lonely.refresh();
    ASSERT_TRUE(pumpUntil([&] { return lonely.idle(); }));
    ASSERT_EQ(boxes.count(), 1u);
    const std::string text = boxes.boxes()[0].text;
    EXPECT_TRUE(text == "Error connecting to server." || text == "Error completing server request.") << text;
    EXPECT_EQ(host.statusText(), text);
    EXPECT_FALSE(lonely.listRetrieved());
}

TEST_F(GameTabTest, ATabDestroyedWhileItsErrorBoxIsUpIsNotTouchedAgain) {
    alignas(GameTab) static unsigned char storage[sizeof(GameTab)];
    GameTab* doomed = new (storage) GameTab(server.baseUrl());
    doomed->setGameId("NFS5");
    doomed->createPage(GetModuleHandleA(nullptr), host.tabControl(), host.status());
    Reply missing;
    missing.status = 500;
    reply("racelist", missing);
    // The main window goes (and its tabs with it) while the box is up.
    boxes.setBeforeDismiss([&](const SeenErrorBox&) {
        host.runOnUiThread([&] {
            doomed->~GameTab();
            std::memset(storage, 0xAB, sizeof storage);
        });
    });
    doomed->refresh();
    // The box's text is recorded while it is up, so this holds only once its caller returned.
    ASSERT_TRUE(pumpUntil([&] { return boxes.count() == 1; }));
    std::size_t touched = 0;
    for (unsigned char byte : storage) touched += byte != 0xAB;
    EXPECT_EQ(touched, 0u);
}

std::string clipboardText() {
    std::string text = "(no text)";
    if (!OpenClipboard(nullptr)) return "(clipboard busy)";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* bytes = static_cast<const char*>(GlobalLock(data))) {
            text = bytes;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

void setClipboardText(HWND owner, const std::string& text) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
}

// Keys for the next popup menu, posted from a timer that fires inside its message loop.
int gMenuDowns = 0;
bool gMenuSeen = false;
void CALLBACK chooseFromMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    HWND menu = FindWindowA("#32768", nullptr);
    gMenuSeen = menu != nullptr && IsWindowVisible(menu);
    if (!gMenuSeen) return;
    for (int i = 0; i < gMenuDowns; ++i) PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
}

// A menu that did not take its keys is closed, so the test fails instead of hanging.
void CALLBACK closeMenu(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    EndMenu();
}

TEST_F(GameTabTest, CtrlCAndTheRightClickMenuCopyTheRaceOnScreen) {
    HWND list = tab->listView();
    auto pressCtrlC = [&] {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        SetFocus(list);
        SendMessageA(list, WM_KEYDOWN, 'C', 1);
        SendMessageA(list, WM_KEYUP, 'C', 0xC0000001);
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
    };
    auto select = [&](int row) {
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    };
    // A right-click on the "Created on" cell of the row, then the menu's item (0 IP, 1 name).
    auto rightClick = [&](int row, int menuItem) {
        RECT cell{};
        cell.top = 2;
        cell.left = LVIR_BOUNDS;
        if (!SendMessageA(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&cell)))
            cell = RECT{100, 30, 100, 40};  // below the header, where a first row would be
        gMenuDowns = menuItem + 1;
        gMenuSeen = false;
        SetTimer(nullptr, 0, 100, chooseFromMenu);
        const UINT_PTR giveUp = SetTimer(nullptr, 0, 3000, closeMenu);
        // The list view tracks the pressed button until the release comes through the queue.
        const LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
        PostMessageA(list, WM_RBUTTONUP, 0, at);
        SendMessageA(list, WM_RBUTTONDOWN, MK_RBUTTON, at);
        pumpFor(250ms);  // lets the timer go when no menu came up
        KillTimer(nullptr, giveUp);
        return gMenuSeen;
    };

    tab->show();
    loadList("OK\n0\n0\n");
    setClipboardText(host.window(), "before");
    pressCtrlC();
    EXPECT_FALSE(rightClick(0, 0));
    EXPECT_EQ(clipboardText(), "before");
    EXPECT_EQ(boxes.count(), 0u);

    loadList(raceListBody(kRetrievedOn, kRaces));  // rows B ab b a
    host.clearStatusHistory();
    const std::size_t requests = server.requestCount();
    pressCtrlC();  // nothing selected yet
    EXPECT_EQ(clipboardText(), "before");
    select(0);
    pressCtrlC();
    EXPECT_EQ(clipboardText(), "192.168.0.1");
    ASSERT_TRUE(rightClick(2, 1));
    EXPECT_EQ(clipboardText(), "b");

    notifyColumnClick(0);  // rows B a ab b
    select(2);
    pressCtrlC();
    EXPECT_EQ(clipboardText(), "10.0.0.1");
    ASSERT_TRUE(rightClick(1, 0));
    EXPECT_EQ(clipboardText(), "1.2.3.4");
    ASSERT_TRUE(rightClick(3, 1));
    EXPECT_EQ(clipboardText(), "b");

    EXPECT_EQ(server.requestCount(), requests);
    EXPECT_TRUE(host.statusHistory().empty());
    EXPECT_EQ(boxes.count(), 0u);
    EXPECT_EQ(tab->sortColumn(), 1);
}

TEST(GameTabLaunch, StartsTheGameQuotedInItsFolderOrSaysWhyNot) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string base = std::string(temp) + "Kestrun launch " + std::to_string(GetCurrentProcessId());
    const std::string gameDir = base + "\\Need For Speed";
    const std::string workDir = base + "\\Work Folder";
    const std::string exePath = gameDir + "\\launch_probe.exe";
    const std::string report = workDir + "\\launch.txt";
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string probe = self;
    probe = probe.substr(0, probe.find_last_of('\\') + 1) + "launch_probe.exe";
    ASSERT_TRUE(CreateDirectoryA(base.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryA(gameDir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CreateDirectoryA(workDir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileA(probe.c_str(), exePath.c_str(), FALSE)) << probe;
    DeleteFileA(report.c_str());

    GameTab tab;
    tab.setGameId("NFS4");
    auto launchError = [&] {
        try {
            tab.launchGame();
        } catch (const ErrorText& e) {
            return e.text;
        }
        return std::string("(launched)");
    };
    EXPECT_EQ(launchError(), "NFS4 registry entry couldn't be read.");
    tab.setExePath(exePath);
    EXPECT_EQ(launchError(), "NFS4 registry entry couldn't be read.");
    tab.setExePath("");
    tab.setWorkDir(workDir);
    EXPECT_EQ(launchError(), "NFS4 registry entry couldn't be read.");
    tab.setExePath(gameDir + "\\missing game.exe");
    EXPECT_EQ(launchError(), "Error launching NFS4:\n" + gameDir + "\\missing game.exe");

    tab.setExePath(exePath);
    EXPECT_EQ(launchError(), "(launched)");
    ASSERT_TRUE(pumpUntil([&] { return GetFileAttributesA(report.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    std::string seen;
    {
        HANDLE file = CreateFileA(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        char text[2048] = {};
        DWORD read = 0;
        ReadFile(file, text, sizeof text - 1, &read, nullptr);
        CloseHandle(file);
        seen.assign(text, read);
    }
    EXPECT_EQ(seen, "\"" + exePath + "\"\n" + workDir + "\n");

    // The probe may still be on its way out; its file can go once it has.
    EXPECT_TRUE(pumpUntil([&] { return DeleteFileA(exePath.c_str()) != FALSE; }, 10s));
    DeleteFileA(report.c_str());
    RemoveDirectoryA(gameDir.c_str());
    RemoveDirectoryA(workDir.c_str());
    RemoveDirectoryA(base.c_str());
}

}  // namespace
