#pragma once
// Rules of the lobby's wire texts that the client, the lobby and the tests all follow, each
// kept once here. No Windows and no sockets: every build compiles this same file.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A race name's characters: letters a-z and A-Z, digits, '-', '_', ' ' and '\''. Bytes of
// 0x80 and above never pass.
bool isRaceNameChar(char c);

// ASCII's control bytes: below 0x20, and 0x7f.
bool isControlByte(char c);

// A hex digit's value, either case; -1 for any other character.
int hexValue(char c);
// Appends `byte` as two hex digits, lower case unless `upper`.
void appendHex(std::string& out, unsigned char byte, bool upper = false);

// Decimal digits only (no sign, no blank), 1 to maxDigits (at most 19) of them.
std::optional<std::uint64_t> parseDigits(std::string_view text, std::size_t maxDigits);

// The dotted form of an IPv4 address whose first octet is the most significant byte.
std::string formatIp(std::uint32_t address);

// `text` less one line feed at its end, then less one carriage return.
std::string_view withoutLineEnd(std::string_view text);

// Takes the next line off `text`: `line` gets it without its line feed and one carriage
// return before that. False, and nothing taken, when no line feed ends it.
bool takeLine(std::string_view& text, std::string_view& line);

// Decodes %XX escapes ('+' stays '+'); nullopt when a '%' is not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text);
