#pragma once
// The first line of every lobby answer says "OK" or "ERROR"; the rest is payload or error text.
#include <string>
#include <string_view>

enum class EnvelopeOutcome { Invalid, Ok, Error, Unknown };

struct Envelope {
    EnvelopeOutcome outcome;
    std::string rest;  // payload for Ok, the server's text for Error, empty otherwise
};

Envelope parseEnvelope(std::string_view body);

// Throws the text the user sees for anything but Ok; returns the payload for Ok.
std::string requireOk(const Envelope& envelope);

inline constexpr const char* kInvalidResponse = "Invalid server response.";
inline constexpr const char* kUnknownResponse = "Unknown server response.";
inline constexpr const char* kInvalidActionPrefix = "Invalid server action: ";
