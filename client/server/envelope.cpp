#include "server/envelope.h"

#include "common/error_text.h"

Envelope parseEnvelope(std::string_view body) {
    auto lineFeed = body.find('\n');
    if (lineFeed == std::string_view::npos) return {EnvelopeOutcome::Invalid, {}};
    std::string_view status = body.substr(0, lineFeed);
    if (!status.empty() && status.back() == '\r') status.remove_suffix(1);
    std::string_view rest = body.substr(lineFeed + 1);
    if (status == "OK") return {EnvelopeOutcome::Ok, std::string(rest)};
    if (status == "ERROR") return {EnvelopeOutcome::Error, std::string(rest)};
    return {EnvelopeOutcome::Unknown, {}};
}

std::string requireOk(const Envelope& envelope) {
    switch (envelope.outcome) {
    case EnvelopeOutcome::Ok: return envelope.rest;
    case EnvelopeOutcome::Error: throw ErrorText(envelope.rest);
    case EnvelopeOutcome::Unknown: throw ErrorText(kUnknownResponse);
    case EnvelopeOutcome::Invalid: break;
    }
    throw ErrorText(kInvalidResponse);
}
