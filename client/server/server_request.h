#pragma once
// The request engine: asynchronous GETs of the lobby's server script through WinINet.
//
// WinINet completes requests on its own threads. Those threads only read the status and
// the body; the outcome is then posted, owned by the message, as WM_SERVER_COMPLETION to
// the engine's delivery window, whose procedure calls deliverServerCompletion, so every
// listener call runs on the user-interface thread. Destroying an engine drops whatever is
// still on its way. server_request.cpp tells a request's whole journey.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/win_handles.h"
#include "server/server_listener.h"

inline constexpr UINT WM_SERVER_COMPLETION = WM_APP + 1;

// Hands one posted outcome to its listener and frees it; call it for every
// WM_SERVER_COMPLETION, also one whose engine is gone.
void deliverServerCompletion(WPARAM wParam, LPARAM lParam);

struct EngineCore;

class ServerRequest {
public:
    static constexpr DWORD kDefaultTimeoutMs = 30000;
    static constexpr std::size_t kMaxBodyBytes = 16u * 1024u * 1024u;

    // The lobby's server script below the site root (common/site.h).
    static std::string defaultBaseUrl();

    ServerRequest();
    explicit ServerRequest(std::string baseUrl, DWORD timeoutMs = kDefaultTimeoutMs);
    ~ServerRequest();
    ServerRequest(const ServerRequest&) = delete;
    ServerRequest& operator=(const ServerRequest&) = delete;

    // Window of the user-interface thread that receives this engine's completions; set it
    // before the first send, which otherwise throws std::logic_error.
    void setDeliveryWindow(HWND window);

    // Starts one GET; its outcome reaches the listener through the delivery window. An
    // empty game or data leaves that parameter out.
    void send(ServerListener* listener, const std::string& action, const std::string& game = {},
              const std::string& data = {});

    std::string agent() const;

    // Request records not yet released, over all engines (for leak checks).
    static std::size_t requestsAlive();

private:
    std::string baseUrl_;
    UniqueInternet internet_;
    std::shared_ptr<EngineCore> core_;
};
