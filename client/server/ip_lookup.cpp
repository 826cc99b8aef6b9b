#include "server/ip_lookup.h"

#include "app/dialogs/show_error.h"
#include "common/error_text.h"
#include "server/envelope.h"
#include "wire/text_rules.h"

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
        const std::string payload = requireOk(envelope);
        std::string_view rest = payload;
        std::string_view line;
        if (!takeLine(rest, line)) throw ErrorText(kInvalidResponse);
        address_ = line;
        state_ = IpState::Retrieved;
    } catch (const ErrorText& e) {
        reportError(e.text);
    }
}
