// The same platform work as the client's start-up, done the plainest way: a dialog with a
// tab control and a list view, three asynchronous WinINet roots, one race-list request to
// the lobby, and its rows inserted (text held by the list view). No parsing beyond lines
// and commas, no sorting, no engine bookkeeping: the floor for what the client does.
#include <windows.h>
#include <commctrl.h>
#include <wininet.h>

#include <string>

namespace {

constexpr UINT WM_BODY = WM_APP + 1;  // lParam: the body (std::string*), owned by the receiver
constexpr int kTabsId = 1001;
constexpr int kListId = 1013;

HWND gWindow = nullptr;
HWND gList = nullptr;
HINTERNET gRoots[3] = {};
HINTERNET gUrl = nullptr;
std::string gBody;
char gChunk[4096];
DWORD gRead = 0;

void finish() { PostMessageA(gWindow, WM_BODY, 0, reinterpret_cast<LPARAM>(new std::string(std::move(gBody)))); }

void readAll() {
    for (;;) {
        gRead = 0;
        if (!InternetReadFile(gUrl, gChunk, sizeof gChunk, &gRead)) {
            if (GetLastError() != ERROR_IO_PENDING) finish();
            return;
        }
        if (gRead == 0) return finish();
        gBody.append(gChunk, gRead);
    }
}

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (context == 0 || status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    if (gUrl == nullptr) {
        gUrl = reinterpret_cast<HINTERNET>(result->dwResult);
        if (gUrl == nullptr) return finish();
        return readAll();
    }
    if (gRead == 0) return finish();
    gBody.append(gChunk, gRead);
    readAll();
}

// "OK", time, count, then "name,ip,created" lines: one row per record.
void insertRows(const std::string& body) {
    std::size_t at = 0;
    int line = 0;
    while (at < body.size()) {
        std::size_t end = body.find('\n', at);
        if (end == std::string::npos) end = body.size();
        std::string text = body.substr(at, end - at);
        at = end + 1;
        if (line++ < 3) continue;
        std::size_t comma = text.find(',');
        std::string name = text.substr(0, comma);
        std::string rest = comma == std::string::npos ? "" : text.substr(comma + 1);
        std::size_t second = rest.find(',');
        std::string ip = rest.substr(0, second), created = second == std::string::npos ? "" : rest.substr(second + 1);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = line;
        item.pszText = name.data();
        const int row = static_cast<int>(SendMessageA(gList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        item.iItem = row;
        item.iSubItem = 1;
        item.pszText = ip.data();
        SendMessageA(gList, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        item.iSubItem = 2;
        item.pszText = created.data();
        SendMessageA(gList, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
}

INT_PTR CALLBACK floorProc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        gWindow = window;
        HWND tabs = GetDlgItem(window, kTabsId);
        for (int i = 0; i < 2; ++i) {
            TCITEMA tab{};
            tab.mask = TCIF_TEXT;
            tab.pszText = const_cast<char*>(i == 0 ? "NFS4" : "NFS5");
            SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&tab));
        }
        RECT area{};
        GetClientRect(tabs, &area);
        SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        gList = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL,
                                area.left, area.top, area.right - area.left, area.bottom - area.top, tabs,
                                reinterpret_cast<HMENU>(kListId), GetModuleHandleA(nullptr), nullptr);
        const char* headers[3] = {"Race name", "Race IP", "Created on"};
        const int widths[3] = {110, 95, 125};
        for (int i = 0; i < 3; ++i) {
            LVCOLUMNA column{};
            column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
            column.cx = widths[i];
            column.pszText = const_cast<char*>(headers[i]);
            column.iSubItem = i;
            SendMessageA(gList, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
        }
        for (HINTERNET& root : gRoots) {
            root = InternetOpenA("Kestrun Client", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
            InternetSetStatusCallbackA(root, onStatus);
        }
        HINTERNET now = InternetOpenUrlA(gRoots[1], KESTRUN_FLOOR_URL, nullptr, 0,
                                         INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 1);
        if (now != nullptr) {
            gUrl = now;
            readAll();
        }
        return TRUE;
    }
    case WM_BODY: {
        auto* body = reinterpret_cast<std::string*>(lParam);
        insertRows(*body);
        delete body;
        return TRUE;
    }
    case WM_CLOSE: DestroyWindow(window); return TRUE;
    case WM_DESTROY:
        if (gUrl != nullptr) InternetCloseHandle(gUrl);
        for (HINTERNET root : gRoots) InternetCloseHandle(root);
        PostQuitMessage(0);
        return TRUE;
    default: return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(1), nullptr, floorProc, 0);
    if (!window) return 1;
    ShowWindow(window, showCommand);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) IsDialogMessageA(window, &message);
    return 0;
}
