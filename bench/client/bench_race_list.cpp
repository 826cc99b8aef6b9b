// Race lists arriving at a game tab under Wine, with its real page and list view shown:
// from the body handed to the tab to the rows shown (painted) and sorted newest first.
// The total is one measurement; the three parts are measured again one by one on the same
// tab with the same calls: parsing with formatting of the texts, clearing the previous
// rows, inserting the rows, sorting with the repaint. Rows are inserted as the tab does, with redrawing paused.
// Prints medians in milliseconds.
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "games/game_tab.h"
#include "games/race_list.h"
#include "games/time_text.h"
#include "race_lists.h"
#include "tab_host.h"

namespace {

using Clock = std::chrono::steady_clock;

double millis(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

int main() {
    constexpr int kRuns = 7;
    TabHost host;
    GameTab tab;
    tab.setGameId("NFS4");
    tab.createPage(GetModuleHandleA(nullptr), host.tabControl(), host.status());
    // A list in place first, so that showing the page asks the server for nothing.
    tab.handleResponse("racelist", raceListBody(1007000000, randomRaces(1, 1)));
    tab.show();
    pump();
    HWND list = tab.listView();

    std::printf("%8s %10s %14s %10s %10s %10s\n", "races", "total ms", "parse+fmt ms", "clear ms", "insert ms",
                "sort ms");
    for (std::size_t count : {100u, 1000u, 10000u}) {
        const std::string body = raceListBody(1007000000, randomRaces(count, 42));
        std::vector<double> total, parse, clear, insert, sort;
        for (int run = 0; run <= kRuns; ++run) {
            auto t0 = Clock::now();
            tab.handleResponse("racelist", body);
            UpdateWindow(list);
            auto t1 = Clock::now();
            if (tab.raceCount() != count || SendMessageA(list, LVM_GETITEMCOUNT, 0, 0) != static_cast<LRESULT>(count)) {
                std::fprintf(stderr, "list of %zu races not shown: %s\n", count, host.statusText().c_str());
                return 1;
            }

            auto p0 = Clock::now();
            RaceListPayload parsed = parseRaceListPayload(std::string_view(body).substr(3));
            for (RaceEntry& race : parsed.races) race.createdText = formatTimestamp(race.createdOn);
            auto p1 = Clock::now();

            auto c0 = Clock::now();
            SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
            auto i0 = Clock::now();
            SendMessageA(list, WM_SETREDRAW, FALSE, 0);
            for (std::size_t i = 0; i < count; ++i) {
                LVITEMA item{};
                item.mask = LVIF_TEXT;
                item.iItem = static_cast<int>(i);
                item.pszText = LPSTR_TEXTCALLBACKA;
                SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            }
            SendMessageA(list, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(list, nullptr, TRUE);
            auto i1 = Clock::now();

            tab.sortByColumn(0);
            UpdateWindow(list);
            auto s0 = Clock::now();
            tab.sortByColumn(2);
            UpdateWindow(list);
            auto s1 = Clock::now();
            pump();

            if (run == 0) continue;  // warm-up
            total.push_back(millis(t0, t1));
            parse.push_back(millis(p0, p1));
            clear.push_back(millis(c0, i0));
            insert.push_back(millis(i0, i1));
            sort.push_back(millis(s0, s1));
        }
        std::printf("%8zu %10.2f %14.2f %10.2f %10.2f %10.2f\n", count, median(total), median(parse), median(clear),
                    median(insert), median(sort));
    }
    return 0;
}
