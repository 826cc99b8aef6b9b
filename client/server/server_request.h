#pragma once
// The request engine: asynchronous GETs of the lobby's server script through WinINet.
//
// WinINet completes requests on its own threads. Those threads only read the status and
// the body; the outcome is then posted as WM_SERVER_COMPLETION to the engine's delivery
// window, whose procedure calls deliverServerCompletion, so every listener call runs on
// the user-interface thread. Destroying an engine drops whatever is still on its way.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/win_handles.h"
#include "server/server_listener.h"

inline constexpr UINT WM_SERVER_COMPLETION = WM_APP + 1;

// Hands one posted outcome to its listener; call it for WM_SERVER_COMPLETION.
void deliverServerCompletion(WPARAM wParam, LPARAM lParam);

struct EngineCore;

class ServerRequest {
public:
    static constexpr DWORD kDefaultTimeoutMs = 30000;
    static constexpr std::size_t kMaxBodyBytes = 16u * 1024u * 1024u;

    // The lobby's server script below the compiled-in site root.
    static std::string defaultBaseUrl();

    ServerRequest();
    explicit ServerRequest(std::string baseUrl, DWORD timeoutMs = kDefaultTimeoutMs);
    ~ServerRequest();
    ServerRequest(const ServerRequest&) = delete;
    ServerRequest& operator=(const ServerRequest&) = delete;

    // Window of the user-interface thread that receives this engine's completions.
    void setDeliveryWindow(HWND window);

    void send(ServerListener* listener, const std::string& action);
    void send(ServerListener* listener, const std::string& action, const std::string& game);
    void send(ServerListener* listener, const std::string& action, const std::string& game,
              const std::string& data);

    const std::string& agent() const { return agent_; }
    const std::string& baseUrl() const { return baseUrl_; }

    // Request records not yet released, over all engines (for leak checks).
    static std::size_t requestsAlive();

private:
    std::string agent_;
    std::string baseUrl_;
    UniqueInternet internet_;
    std::shared_ptr<EngineCore> core_;
};
