#pragma once
// The one place in a built client that holds its lobby's site root, so that a lobby can write
// its own address into a client that was built once, without a compiler. The slot is a
// marker field (the marker text, then zeros) followed by the address, NUL-terminated and
// zero-padded.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#define KESTRUN_SITE_SLOT_MARKER "KESTRUN:SITE-URL-SLOT:v1"

inline constexpr std::size_t kSiteSlotMarkerSize = 32;
inline constexpr std::size_t kSiteSlotUrlSize = 256;
inline constexpr std::size_t kSiteUrlMaxLength = kSiteSlotUrlSize - 1;

struct SiteSlot {
    char marker[kSiteSlotMarkerSize];
    char url[kSiteSlotUrlSize];
};

// Why `url` cannot be a client's site root, or nullopt when it can: http://, a host name,
// IPv4 or [IPv6] address, an optional port, a path ending in '/', and no longer than the slot.
std::optional<std::string> siteUrlProblem(std::string_view url);

// Writes `url` into the one slot of `program` (a built client's bytes) and zeros the rest
// of it; nothing else changes. Returns why it could not, or nullopt.
std::optional<std::string> writeSiteSlot(std::string& program, std::string_view url);
