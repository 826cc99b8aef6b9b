// The race list's columns at the screen's DPI: ctest runs this suite in a prefix set to
// 96 DPI and again at 144 (run-with-dpi.sh, which sets KESTRUN_EXPECT_DPI).
// The client runs on Windows 7 as well; this test calls the Windows 10 DPI functions.
#undef WINVER
#undef _WIN32_WINNT
#define WINVER 0x0A00
#define _WIN32_WINNT 0x0A00
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "games/game_tab.h"
#include "tab_host.h"

namespace {

// Zero when not run by run-with-dpi.sh: the prefix's DPI and fonts are then unknown.
unsigned expectedDpi() {
    const char* text = std::getenv("KESTRUN_EXPECT_DPI");
    return text != nullptr ? static_cast<unsigned>(std::atoi(text)) : 0u;
}

std::vector<int> columnWidths(HWND list) {
    std::vector<int> widths;
    for (int i = 0; i < 3; ++i) widths.push_back(static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, i, 0)));
    return widths;
}

int textWidth(HWND list, const char* text) {
    return static_cast<int>(SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
}

TEST(PageDpi, ColumnsScaleWithTheScreenAndTheirTextsFit) {
    const unsigned dpi = expectedDpi();
    if (dpi == 0) GTEST_SKIP() << "run by ctest as page_dpi_96 and page_dpi_144";
    // As kestrun.exe's manifest declares.
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    TabHost host;
    GameTab tab("http://127.0.0.1:9/server/server.php");
    tab.setGameId("NFS4");
    tab.createPage(GetModuleHandleA(nullptr), host.tabControl(), host.status());
    HWND list = tab.listView();

    ASSERT_EQ
(windowDpi(tab.pageWindow()), dpi) << "the Wine prefix is not at the DPI this run asks for";
    const std::vector<int> at96 = {110, 95, 125};
    const std::vector<int> at144 = {165, 143, 188};
    EXPECT_EQ(columnWidths(list), dpi == 144 ? at144 : at96);

    // What each column must show in the page's font, with the list view's cell margins.
    constexpr int kMargin = 12;
    const char* widest[3][2] = {{"Race name", "Porsche Cup 2000"},  // 16 characters
                                {"Race IP", "255.255.255.255"},
                                {"Created on", "12/31/2037 11:59 PM"}};
    const std::vector<int> widths = columnWidths(list);
    for (int i = 0; i < 3; ++i) {
        for (const char* text : widest[i])
            EXPECT_LE(textWidth(list, text) + kMargin, widths[static_cast<std::size_t>(i)]) << text;
    }
    // The page's font grows with the screen, so fixed widths would cut these texts.
    if (dpi == 144) {
        EXPECT_GT(textWidth(list, widest[0][1]) + kMargin, at96[0]);
    }

    // Moved to another screen and back.
    tab.scaleColumns(dpi == 144 ? 96 : 144);
    EXPECT_EQ(columnWidths(list), dpi == 144 ? at96 : at144);
    tab.scaleColumns(dpi);
    EXPECT_EQ(columnWidths(list), widths);
}

}  // namespace
