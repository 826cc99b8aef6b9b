// The client under Wine, refreshed again and again the way the end-to-end tests drive it:
// a mouse click on "Refresh List", then the lobby's access log grows by the request and
// the status line says the list arrived. Before and after, it prints the client's handle
// count, its GDI objects (entries of its GDI handle table), its USER objects as the
// system reports them and its windows, then waits for a line on standard input while the
// caller measures the process's memory.
//   soak_driver CLIENT_EXE ACCESS_LOG REFRESHES WARMUP
#include <windows.h>
#include <winternl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <iostream>
#include <string>

#include "client_driver.h"
#include "res/resource.h"

namespace {

const std::string kRetrieved = "Retrieved NFS4 race list from server.";

// Wine keeps each process's GDI handle table in its own memory, found through the PEB as
// on Windows; an entry of type 0 is free.
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 userPointer;
};
constexpr std::size_t kGdiEntries = 0x10000;
constexpr std::size_t kPebGdiTable = sizeof(void*) == 8 ? 0xF8 : 0x94;

long gdiObjects(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0) return -1;
    void* table = nullptr;
    if (!ReadProcessMemory(process, static_cast<char*>(static_cast<void*>(basic.PebBaseAddress)) + kPebGdiTable,
                           &table, sizeof table, nullptr) ||
        table == nullptr)
        return -1;
    static GdiHandleEntry entries[kGdiEntries];
    if (!ReadProcessMemory(process, table, entries, sizeof entries, nullptr)) return -1;
    long used = 0;
    for (const auto& e : entries) used += e.type != 0;
    return used;
}

struct WindowCount {
    DWORD processId;
    long count;
};

BOOL CALLBACK countChild(HWND, LPARAM param) {
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK countTop(HWND window, LPARAM param) {
    auto* c = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != c->processId) return TRUE;
    ++c->count;
    EnumChildWindows(window, countChild, param);
    return TRUE;
}

// The process's kernel handles, from the system's handle list (Wine's GetProcessHandleCount
// answers 0).
struct SystemHandleEntry {
    ULONG ownerPid;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    void* object;
    ACCESS_MASK access;
};
struct SystemHandles {
    ULONG count;
    SystemHandleEntry entries[1];
};
constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);

long kernelHandles(DWORD processId) {
    static std::string buffer(1 << 20, '\0');
    ULONG needed = 0;
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) ==
           static_cast<NTSTATUS>(0xC0000004L))  // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
    if (status != 0) return -1;
    const auto* list = reinterpret_cast<const SystemHandles*>(buffer.data());
    long count = 0;
    for (ULONG i = 0; i < list->count; ++i) count += list->entries[i].ownerPid == processId;
    return count;
}

void report(const char* phase, DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    WindowCount windows{processId, 0};
    EnumWindows(countTop, reinterpret_cast<LPARAM>(&windows));
    // Wine's GetGuiResources answers 0; its windows are the USER objects that can be counted.
    std::printf("%s handles %ld gdi %ld windows %ld user_reported %lu\n", phase, kernelHandles(processId),
                gdiObjects(process), windows.count, GetGuiResources(process, GR_USEROBJECTS));
    CloseHandle(process);
    std::printf("measure %s\n", phase);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
}

long long fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One refresh as a player makes it: a click in the middle of the button; false if the list
// did not come back within 20 s. (The pointer is not checked to be over the button itself:
// seen from another process, Wine reports the group box around the buttons there.)
bool refresh(const KestrunClient& client, const RECT& button, const std::string& log) {
    const long long before = fileSize(log);
    clickAt(button);
    return pollUntil([&] { return fileSize(log) > before; }) && client.waitForStatus(kRetrieved);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: soak_driver CLIENT_EXE ACCESS_LOG REFRESHES WARMUP\n");
        return 2;
    }
    const std::string log = argv[2];
    const long refreshes = std::atol(argv[3]), warmup = std::atol(argv[4]);
    KestrunClient client(argv[1]);
    if (!client.started() || !client.waitForStatus(kRetrieved, 60s) || client.roomCount().empty()) {
        std::printf("error the client did not show its first list\n");
        return 1;
    }
    std::printf("rooms %s\n", client.roomCount().c_str());
    clickWindow(GetDlgItem(client.window(), IDC_REFRESH));  // the window comes to the front
    if (!client.waitForStatus(kRetrieved)) return 1;
    RECT button{};
    GetWindowRect(GetDlgItem(client.window(), IDC_REFRESH), &button);
    for (long i = 0; i < warmup; ++i) {
        if (!refresh(client, button, log)) {
            std::printf("error warm-up refresh %ld did not come back\n", i + 1);
            return 1;
        }
    }
    report("before", client.processId());
    const auto start = std::chrono::steady_clock::now();
    for (long i = 1; i <= refreshes; ++i) {
        if (!refresh(client, button, log)) {
            std::printf("error refresh %ld did not come back\n", i);
            return 1;
        }
        if (i % 1000 == 0) {
            const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("progress %ld refreshes %.1f s\n", i, s);
            std::fflush(stdout);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("done %ld refreshes %.1f s rooms %s\n", refreshes, seconds, client.roomCount().c_str());
    report("after", client.processId());
    PostMessageA(client.window(), WM_CLOSE, 0, 0);
    DWORD code = 0;
    client.waitForExit(code);
    return 0;
}
