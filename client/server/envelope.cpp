#include "server/envelope.h"

#include "common/error_text.h"
#include "wire/text_rules.h"

Envelope parseEnvelope(std::string_view body) {
    std::string_view rest = body;
    std::string_view status;
    if (!takeLine(rest, status)) return {EnvelopeOutcome::Invalid, {}};
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
