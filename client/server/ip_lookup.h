#pragma once
// The player's public IP address as the lobby sees it: asked for once, at construction.
#include <windows.h>

#include <cstdint>
#include <string>

#include "server/server_listener.h"
#include "server/server_request.h"

enum class IpState : std::int32_t { NotRetrieved = 0, Retrieved = 1, ServerError = 2, UnknownResponse = 3 };

class IpLookup : public ServerListener {
public:
    // Sends "getip". The owner (the main window) shows the error boxes and must hand
    // WM_SERVER_COMPLETION to deliverServerCompletion.
    explicit IpLookup(HWND owner);
    // The same against another server script (tests).
    IpLookup(HWND owner, std::string serverUrl);
    ~IpLookup() = default;
    IpLookup(const IpLookup&) = delete;
    IpLookup& operator=(const IpLookup&) = delete;

    bool hasIp() const { return state_ == IpState::Retrieved; }
    std::string ip() const;
    IpState state() const { return state_; }

    void reportError(const std::string& message) override;
    void handleResponse(const std::string& action, const std::string& body) override;

private:
    ServerRequest request_;
    HWND owner_;
    IpState state_ = IpState::NotRetrieved;
    std::string address_;
};
