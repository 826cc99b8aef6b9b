#pragma once
// The lobby's side of the wire: reading a request's query and data, checking race names,
// addresses and the texts that go back out. Nothing here touches the network or the database.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/games.h"
#include "wire/text_rules.h"

namespace lobby {

struct Query {
    std::optional<std::string> action;
    std::optional<std::string> game;
    std::optional<std::string> data;
};

// Splits a raw query (the part after '?') into the three keys the client sends. Values are
// percent-decoded; '+' stays '+'. Nullopt for a broken escape or a key given twice.
// Unknown keys are ignored.
std::optional<Query> parseQuery(std::string_view rawQuery);

using ::percentDecode;

// Letters, digits, blank, hyphen, underscore and apostrophe; 1 to 16 of them.
bool isValidRaceName(std::string_view name);

// Decimal digits only, 1 to 10 of them, value below 2^32.
std::optional<std::uint32_t> parseDecimalAddress(std::string_view text);

struct RaceAddData {
    std::string name;
    std::uint32_t ip = 0;
};

// "name:" + name + ";ip:" + decimal address. The name is returned as given; checking it
// against the name rule is the caller's separate step, so it can say what was wrong.
std::optional<RaceAddData> parseRaceAddData(std::string_view data);

// "ip:" + decimal address.
std::optional<std::uint32_t> parseRaceRemData(std::string_view data);

inline std::string formatDotted(std::uint32_t address) { return formatIp(address); }

// A peer's address as the socket layer or a proxy header gives it, read once and carried
// with the request. IPv4-mapped IPv6 addresses count as IPv4.
struct PeerAddress {
    bool isIpv4 = false;
    std::uint32_t ipv4 = 0;
    std::string text;                     // dotted for IPv4, the IPv6 text otherwise
    std::array<std::uint8_t, 16> ipv6{};  // IPv4 as IPv4-mapped
};
std::optional<PeerAddress> parsePeerAddress(std::string_view text);
PeerAddress ipv4Peer(std::uint32_t address);
PeerAddress ipv6Peer(const std::array<std::uint8_t, 16>& bytes);  // also IPv4-mapped ones

// A client's address as the limits count it: IPv4 by address, IPv6 by its /64, the block one
// household usually gets.
struct AddressKey {
    std::array<std::uint8_t, 16> bytes{};
    bool operator==(const AddressKey&) const = default;
};
AddressKey keyOf(const PeerAddress& peer);
std::uint64_t hashOf(const AddressKey& key);

// The rightmost item of a comma-separated header value (X-Forwarded-For), trimmed: the
// one that the trusted proxy itself added.
std::string_view lastHeaderItem(std::string_view value);

// WinINet may put a blank of a race name into the request line as it is, which HTTP parsers
// refuse. Blanks between the method and the version become %20; other lines stay as they are.
std::string mendRequestLine(std::string_view line);
// Method, target and HTTP version, separated by single blanks, no control bytes.
bool isPlainRequestLine(std::string_view line);

std::string escapeHtml(std::string_view text);

// Bytes outside printable ASCII, quotes and backslashes as \xHH, cut to maxLength.
std::string escapeForLog(std::string_view text, std::size_t maxLength);

}  // namespace lobby
