#pragma once
// Receives the outcome of a lobby request: exactly one of the two calls per request.
// Both are called on the user-interface thread.
#include <string>

class ServerListener {
public:
    virtual void reportError(const std::string& message) = 0;
    virtual void handleResponse(const std::string& action, const std::string& body) = 0;

protected:
    ~ServerListener() = default;  // never destroyed through this interface
};
