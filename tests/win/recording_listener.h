#pragma once
// A listener that records every call, and on which thread it came.
#include <windows.h>

#include <string>
#include <vector>

#include "server/server_listener.h"

struct ListenerCall {
    enum Kind { Error, Response } kind;
    std::string action;  // empty for errors
    std::string text;    // error text or body
    DWORD threadId;
};

class RecordingListener : public ServerListener {
public:
    void reportError(const std::string& message) override {
        calls.push_back({ListenerCall::Error, {}, message, GetCurrentThreadId()});
    }
    void handleResponse(const std::string& action, const std::string& body) override {
        calls.push_back({ListenerCall::Response, action, body, GetCurrentThreadId()});
    }
    std::vector<ListenerCall> calls;
};
