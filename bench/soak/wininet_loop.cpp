// The soak's floor: the same race-list requests made by the plainest asynchronous WinINet
// code (one root, InternetOpenUrl, read to the end, close, wait for the handle's closing),
// no window and no list. Prints "measure before" after WARMUP requests and "measure after"
// after REFRESHES more, each time waiting for a line on standard input.
//   wininet_loop URL REFRESHES WARMUP
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

HANDLE gDone = nullptr;  // set when the request's handle has closed
HINTERNET gUrl = nullptr;
char gChunk[4096];
DWORD gRead = 0;
std::size_t gBytes = 0;
bool gFailed = false;

void readAll() {
    for (;;) {
        gRead = 0;
        if (!InternetReadFile(gUrl, gChunk, sizeof gChunk, &gRead)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                gFailed = true;
                InternetCloseHandle(gUrl);
            }
            return;
        }
        if (gRead == 0) {
            InternetCloseHandle(gUrl);
            return;
        }
        gBytes += gRead;
    }
}

void CALLBACK onStatus(HINTERNET handle, DWORD_PTR, DWORD status, LPVOID info, DWORD) {
    if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        if (handle == gUrl) SetEvent(gDone);
        return;
    }
    if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    if (gUrl == nullptr) {
        gUrl = reinterpret_cast<HINTERNET>(result->dwResult);
        if (gUrl == nullptr) {
            gFailed = true;
            SetEvent(gDone);
            return;
        }
        return readAll();
    }
    if (gRead == 0) return (void)InternetCloseHandle(gUrl);
    gBytes += gRead;
    readAll();
}

bool requestOnce(HINTERNET root, const char* url) {
    gUrl = nullptr;
    gBytes = 0;
    ResetEvent(gDone);
    HINTERNET now = InternetOpenUrlA(root, url, nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 1);
    if (now != nullptr) {
        gUrl = now;
        readAll();
    } else if (GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    return WaitForSingleObject(gDone, 20000) == WAIT_OBJECT_0 && !gFailed && gBytes > 0;
}

void measure(const char* phase) {
    std::printf("measure %s\n", phase);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const long refreshes = std::atol(argv[2]), warmup = std::atol(argv[3]);
    gDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HINTERNET root = InternetOpenA("Kestrun Client", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    InternetSetStatusCallbackA(root, onStatus);
    for (long i = 0; i < warmup; ++i)
        if (!requestOnce(root, argv[1])) return std::printf("error request failed\n"), 1;
    measure("before");
    for (long i = 0; i < refreshes; ++i)
        if (!requestOnce(root, argv[1])) return std::printf("error request failed\n"), 1;
    std::printf("done %ld requests\n", refreshes);
    measure("after");
    InternetCloseHandle(root);
    return 0;
}
