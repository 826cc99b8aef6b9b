#include "server/ip_lookup.h"

#include "app/dialogs/show_error.h"
#include "common/error_text.h"
#include "server/envelope.h"

namespace {
constexpr const char* kGetIp = "getip";
}

IpLookup::IpLookup(HWND owner) : owner_(owner) {
    request_.setDeliveryWindow(owner_);
    request_.send(this, kGetIp);
}

IpLookup::IpLookup(HWND owner, std::string serverUrl) : request_(std::move(serverUrl)), owner_(owner) {
    request_.setDeliveryWindow(owner_);
    request_.send(this, kGetIp);
}

std::string IpLookup::ip() const {
    switch (state_) {
    case IpState::Retrieved: return address_;
    case IpState::NotRetrieved: throw ErrorText("IP hasn't been retrieved.");
    default: throw ErrorText("IP couldn't been retrieved.");
    }
}

void IpLookup::reportError(const std::string& message) { showError(owner_, message); }

void IpLookup::handleResponse(const std::string& action, const std::string& body) {
    if (action != kGetIp) {
        reportError(kInvalidActionPrefix + action);
        return;
    }
    try {
        Envelope envelope = parseEnvelope(body);
        if (envelope.outcome == EnvelopeOutcome::Error) state_ = IpState::ServerError;
        if (envelope.outcome == EnvelopeOutcome::Unknown) state_ = IpState::UnknownResponse;
        std::string payload = requireOk(envelope);
        auto end = payload.find('\n');
        if (end == std::string::npos) throw ErrorText(kInvalidResponse);
        payload.resize(end);
        if (!payload.empty() && payload.back() == '\r') payload.pop_back();
        address_ = std::move(payload);
        state_ = IpState::Retrieved;
    } catch (const ErrorText& e) {
        reportError(e.text);
    }
}
