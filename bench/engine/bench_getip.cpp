// Round trips of sequential "getip" requests through the request engine, as the client
// makes them: send on the UI thread, outcome delivered back there through the window.
// Usage: bench_getip BASE_URL COUNT   (prints one round-trip time in microseconds a line)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/server_request.h"

namespace {

struct Listener : ServerListener {
    bool done = false;
    bool ok = false;
    void reportError(const std::string& message) override {
        std::fprintf(stderr, "error: %s\n", message.c_str());
        done = true;
    }
    void handleResponse(const std::string&, const std::string& body) override {
        ok = body.rfind("OK\n", 0) == 0;
        done = true;
    }
};

LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SERVER_COMPLETION) {
        deliverServerCompletion(wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_getip BASE_URL COUNT\n");
        return 2;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KestrunBench";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ServerRequest engine(argv[1]);
    engine.setDeliveryWindow(window);
    int count = std::atoi(argv[2]);
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        Listener listener;
        auto start = std::chrono::steady_clock::now();
        engine.send(&listener, "getip");
        MSG msg;
        while (!listener.done && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
        auto micros = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        if (!listener.ok) ++failures;
        std::printf("%lld\n", static_cast<long long>(micros.count()));
    }
    std::fflush(stdout);
    DestroyWindow(window);
    return failures == 0 ? 0 : 1;
}
