// The game tab's model, its page and the race list view.
#include "games/game_tab.h"

#include <algorithm>
#include <cstring>

#include "app/dialogs/show_error.h"
#include "common/error_text.h"
#include "games/column_widths.h"
#include "games/row_order.h"
#include "res/resource.h"

GameTab* GameTab::currentTab_ = nullptr;

GameTab::GameTab() = default;

GameTab::GameTab(std::string serverUrl) : request_(std::move(serverUrl)) {}

GameTab::~GameTab() {
    // The pages' list views reach their tab only through currentTab, which forgets it here.
    if (currentTab_ == this) currentTab_ = nullptr;
}

namespace {

struct ColumnSpec {
    const char* header;
    int width;
    const char* failure;
};

constexpr ColumnSpec kColumns[kRaceColumnCount] = {
    {"Race name", kRaceColumnWidths[0], "Error creating race name column."},
    {"Race IP", kRaceColumnWidths[1], "Error creating race IP column."},
    {"Created on", kRaceColumnWidths[2], "Error creating race time column."},
};

}  // namespace

void GameTab::createPage(HINSTANCE instance, HWND tabControl, HWND statusWindow) {
    pageWindow_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_GAME_PAGE), tabControl, pageDialogProc, 0);
    if (pageWindow_ == nullptr) throw ErrorText("Error creating " + gameId_ + " tab.");
    // The page hands the engine's completions over to this thread.
    request_.setDeliveryWindow(pageWindow_);

    RECT display{};
    GetClientRect(tabControl, &display);
    SendMessageA(tabControl, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    RECT page{};
    GetClientRect(pageWindow_, &page);
    const int w = page.right - page.left;
    const int h = page.bottom - page.top;
    const int x = display.left + ((display.right - display.left) - w) / 2;
    const int y = display.top + ((display.bottom - display.top) - h) / 2 + 1;
    if (!SetWindowPos(pageWindow_, HWND_TOP, x, y, w, h, 0))
        throw ErrorText("Error repositioning " + gameId_ + " tab.");

    if (!SetDlgItemTextA(pageWindow_, IDC_ROOM_COUNT, "0")) throw ErrorText("Error setting tab rooms.");
    if (!SetDlgItemTextA(pageWindow_, IDC_RETRIEVED_ON, "not retrieved")) throw ErrorText("Error setting tab time.");
    listView_ = GetDlgItem(pageWindow_, IDC_RACE_LIST);
    if (listView_ == nullptr) throw ErrorText("Error retrieving tab race list.");

    const unsigned dpi = windowDpi(pageWindow_);
    for (int i = 0; i < kRaceColumnCount; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = scaledColumnWidth(kColumns[i].width, dpi);
        column.pszText = const_cast<char*>(kColumns[i].header);
        column.iSubItem = i;
        if (SendMessageA(listView_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)) == -1)
            throw ErrorText(kColumns[i].failure);
    }
    statusWindow_ = statusWindow;
}

void GameTab::setStatusText(const std::string& text) { SetWindowTextA(statusWindow_, text.c_str()); }

void GameTab::sortByColumn(int column) {
    sortColumn_ = sortRowsByColumn(races_, rowOrder_, sortColumn_, column);
    // Rows out of sight ask for their texts again when they come into view; asking the
    // list view to redraw them too costs Wine one server call per row.
    const auto top = static_cast<LPARAM>(SendMessageA(listView_, LVM_GETTOPINDEX, 0, 0));
    const auto page = static_cast<LPARAM>(SendMessageA(listView_, LVM_GETCOUNTPERPAGE, 0, 0));
    const LPARAM last = std::min<LPARAM>(static_cast<LPARAM>(raceCount_) - 1, top + page);
    SendMessageA(listView_, LVM_REDRAWITEMS, static_cast<WPARAM>(std::min(top, std::max<LPARAM>(last, 0))), last);
}

void GameTab::reverseRows() { ::reverseRows(rowOrder_); }

void GameTab::fillDisplayInfo(NMLVDISPINFOA& info) const {
    LVITEMA& item = info.item;
    if (item.iItem < 0 || static_cast<std::uint32_t>(item.iItem) >= raceCount_) return;
    const RaceEntry& race = races_[rowOrder_[static_cast<std::size_t>(item.iItem)]];
    const std::string* text = nullptr;
    switch (item.iSubItem) {
    case 0: text = &race.name; break;
    case 1: text = &race.ipText; break;
    case 2: text = &race.createdText; break;
    default: return;
    }
    if (item.pszText == nullptr || item.pszText == LPSTR_TEXTCALLBACKA || item.cchTextMax <= 0) return;
    // Longer texts are cut to the buffer the list view offers.
    const std::size_t length = std::min(text->size(), static_cast<std::size_t>(item.cchTextMax) - 1);
    std::memcpy(item.pszText, text->data(), length);
    item.pszText[length] = '\0';
}

INT_PTR CALLBACK GameTab::pageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_SERVER_COMPLETION: deliverServerCompletion(wParam, lParam); return TRUE;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (currentTab_ != nullptr) currentTab_->handleCopyNotification(*header);
        if (header->code != LVN_GETDISPINFOA && header->code != LVN_COLUMNCLICK) return FALSE;
        try {
            if (currentTab_ != nullptr) {
                if (header->code == LVN_GETDISPINFOA)
                    currentTab_->fillDisplayInfo(*reinterpret_cast<NMLVDISPINFOA*>(lParam));
                else
                    currentTab_->sortByColumn(reinterpret_cast<const NMLISTVIEW*>(lParam)->iSubItem);
            }
        } catch (const ErrorText& e) {
            showError(window, e.text);
        }
        return TRUE;
    }
    default: return FALSE;
    }
}
