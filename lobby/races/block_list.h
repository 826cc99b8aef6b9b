#pragma once
// What a lobby's host keeps out: addresses and ranges that may not announce races, and
// words that race names may not contain. Read from a file of one entry a line:
//   203.0.113.7        an IPv4 or IPv6 address
//   198.51.100.0/24    an IPv4 or IPv6 range (CIDR)
//   word: TEXT         names containing TEXT, in any case
// '#' starts a comment; blank lines are ignored.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lobby {

struct PeerAddress;

// "line N: what is wrong", or why the file could not be read.
class BlockListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class BlockList {
public:
    // Throws BlockListError naming the first malformed line.
    static BlockList parse(std::string_view text);
    static BlockList load(const std::string& path);

    // An address as text (IPv4 or IPv6; IPv4-mapped IPv6 counts as its IPv4 address).
    bool blocksAddress(std::string_view text) const;
    bool blocksAddress(std::uint32_t ipv4) const;
    bool blocksAddress(const PeerAddress& peer) const;
    bool blocksName(std::string_view name) const;
    bool empty() const { return v4_.empty() && v6_.empty() && words_.empty(); }

private:
    struct Range4 {
        std::uint32_t network = 0, mask = 0;
    };
    struct Range6 {
        std::array<std::uint8_t, 16> network{};
        int prefix = 0;
    };
    std::vector<Range4> v4_;
    std::vector<Range6> v6_;
    std::vector<std::string> words_;  // lower case
};

}  // namespace lobby
