// Copying a race's address or name to the clipboard: Ctrl+C on the selected race, or the
// menu of a right-click on a race, which also opens the lobby's page that tells a host
// whether players can reach its races. Nothing is sent and the status line is left alone.
#include <cstring>

#include "app/website.h"
#include "common/win_handles.h"
#include "games/game_tab.h"

namespace {

constexpr UINT kCopyIpCommand = 1;
constexpr UINT kCopyNameCommand = 2;
constexpr UINT kCheckPageCommand = 3;

// A clipboard held by another program leaves it as it was.
void putOnClipboard(HWND owner, const std::string& text) {
    UniqueGlobal memory(GlobalAlloc(GMEM_MOVEABLE, text.size() + 1));
    void* bytes = memory ? GlobalLock(memory.get()) : nullptr;
    if (bytes == nullptr) return;
    std::memcpy(bytes, text.c_str(), text.size() + 1);
    GlobalUnlock(memory.get());
    if (!OpenClipboard(owner)) return;
    EmptyClipboard();
    // Once set, the memory belongs to the clipboard.
    if (SetClipboardData(CF_TEXT, memory.get()) != nullptr) memory.release();
    CloseClipboard();
}

}  // namespace

const RaceEntry* GameTab::raceAtRow(int row) const {
    if (row < 0 || static_cast<std::uint32_t>(row) >= raceCount_) return nullptr;
    return &races_[rowOrder_[static_cast<std::size_t>(row)]];
}

void GameTab::handleCopyNotification(const NMHDR& header) {
    if (header.code == LVN_KEYDOWN) {
        const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
        // Ctrl+Alt is AltGr on many keyboards: that is a character, not a command.
        if (key.wVKey != 'C' || GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_MENU) < 0) return;
        const auto selected = static_cast<int>(
            SendMessageA(listView_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), MAKELPARAM(LVNI_SELECTED, 0)));
        if (const RaceEntry* race = raceAtRow(selected)) putOnClipboard(pageWindow_, race->ipText);
        return;
    }
    if (header.code != NM_RCLICK) return;
    // Any cell of the row counts, not only the name.
    LVHITTESTINFO hit{};
    hit.pt = reinterpret_cast<const NMITEMACTIVATE&>(header).ptAction;
    const RaceEntry* race = raceAtRow(
        static_cast<int>(SendMessageA(listView_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit))));
    if (race == nullptr) return;
    // The menu runs a message loop: a new list may replace this one, or the window go,
    // before a choice is made. The clicked race's texts are taken now.
    const std::string ipText = race->ipText;
    const std::string name = race->name;
    HWND owner = pageWindow_;
    UniqueMenu menu(CreatePopupMenu());
    if (!menu) return;
    AppendMenuA(menu.get(), MF_STRING, kCopyIpCommand, "Copy race IP");
    AppendMenuA(menu.get(), MF_STRING, kCopyNameCommand, "Copy race name");
    AppendMenuA(menu.get(), MF_STRING, kCheckPageCommand, "Can players reach this race?");
    POINT at = hit.pt;
    ClientToScreen(listView_, &at);
    const auto chosen = static_cast<UINT>(TrackPopupMenu(
        menu.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr));
    if (chosen == kCopyIpCommand) putOnClipboard(owner, ipText);
    if (chosen == kCopyNameCommand) putOnClipboard(owner, name);
    if (chosen == kCheckPageCommand) openCheckPage();
}
