#pragma once
// Conversions between the lobby's wire texts and the values the client keeps.
// All arithmetic is modulo 2^32, as the server's numbers are unsigned 32-bit.
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/text_rules.h"  // formatIp

std::string stripLineEnd(std::string_view text);
std::uint32_t parseDecimal(std::string_view text);
std::string formatDecimal(std::uint32_t value);
std::uint32_t parseIp(std::string_view text);
