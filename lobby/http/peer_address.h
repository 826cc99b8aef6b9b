#pragma once
// A client's address: from the socket or from the trusted proxy's header, and as the limits
// count it.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lobby {

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

}  // namespace lobby
