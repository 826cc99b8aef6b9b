// The floor for bench_getip: the same sequential "getip" round trips made with asynchronous
// WinINet in the plainest way (one callback, one read buffer, a message posted to the window
// when the body is in), without the request engine.
// Usage: bench_getip_bare BASE_URL COUNT   (prints one round-trip time in microseconds a line)
#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr UINT kDone = WM_APP + 1;

struct Request {
    HWND window = nullptr;
    HINTERNET handle = nullptr;
    char buffer[1024];
    DWORD got = 0;
    std::string body;
};

void read(Request& r) {
    for (;;) {
        if (!InternetReadFile(r.handle, r.buffer, sizeof r.buffer, &r.got)) {
            if (GetLastError() != ERROR_IO_PENDING) PostMessageA(r.window, kDone, 0, 0);
            return;
        }
        if (r.got == 0) {
            PostMessageA(r.window, kDone, 1, 0);
            return;
        }
        r.body.append(r.buffer, r.got);
    }
}

void CALLBACK callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (status != INTERNET_STATUS_REQUEST_COMPLETE || context == 0) return;
    auto& r = *reinterpret_cast<Request*>(context);
    const auto& result = *static_cast<const INTERNET_ASYNC_RESULT*>(info);
    if (r.handle == nullptr) {
        if (result.dwError != 0 || result.dwResult == 0) return void(PostMessageA(r.window, kDone, 0, 0));
        r.handle = reinterpret_cast<HINTERNET>(result.dwResult);
        return read(r);
    }
    if (r.got == 0) return void(PostMessageA(r.window, kDone, 1, 0));
    r.body.append(r.buffer, r.got);
    read(r);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_getip_bare BASE_URL COUNT\n");
        return 2;
    }
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
    HINTERNET root = InternetOpenA("Kestrun Client", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
    InternetSetStatusCallback(root, callback);
    const std::string url = std::string(argv[1]) + "?action=getip";
    int count = std::atoi(argv[2]);
    int failures = 0;
    // Kept to the end: a closed handle may still call back with its request's address.
    std::vector<std::unique_ptr<Request>> requests;
    for (int i = 0; i < count; ++i) {
        Request& r = *requests.emplace_back(std::make_unique<Request>());
        r.window = window;
        auto start = std::chrono::steady_clock::now();
        InternetOpenUrlA(root, url.c_str(), nullptr, 0, INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE,
                         reinterpret_cast<DWORD_PTR>(&r));
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != kDone) DispatchMessageA(&msg);
        auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        if (msg.wParam != 1 || r.body.rfind("OK\n", 0) != 0) ++failures;
        if (r.handle != nullptr) InternetCloseHandle(r.handle);
        std::printf("%lld\n", static_cast<long long>(micros.count()));
    }
    std::fflush(stdout);
    InternetCloseHandle(root);
    DestroyWindow(window);
    return failures == 0 ? 0 : 1;
}
