#include "wire/site_slot.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace {

bool isAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Dot-separated labels of letters, digits and inner hyphens (a dotted IPv4 address is one).
bool isHostName(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = host.find('.', start);
        std::string_view label = host.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        for (char c : label)
            if (!isAlnum(c) && c != '-') return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool isIpv6Literal(std::string_view host) {
    if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
    std::string_view inner = host.substr(1, host.size() - 2);
    if (inner.find(':') == std::string_view::npos) return false;
    return std::all_of(inner.begin(), inner.end(), [](char c) { return isHex(c) || c == ':' || c == '.'; });
}

// Path characters of a URL (RFC 3986 pchar and '/'), with %XX escapes well formed.
bool isPath(std::string_view path) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        if (c == '%') {
            if (i + 2 >= path.size() || !isHex(path[i + 1]) || !isHex(path[i + 2])) return false;
            i += 2;
        } else if (!isAlnum(c) && !std::strchr("/-._~!$&'()*+,;=:@", c)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> siteUrlProblem(std::string_view url) {
    constexpr std::string_view kScheme = "http://";
    if (url.size() > kSiteUrlMaxLength)
        return "is " + std::to_string(url.size()) + " characters long; the client holds at most " +
               std::to_string(kSiteUrlMaxLength);
    if (url.substr(0, kScheme.size()) != kScheme) return "must start with http://";
    std::string_view rest = url.substr(kScheme.size());
    std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos || url.back() != '/') return "must end in /";
    std::string_view authority = rest.substr(0, slash);
    std::string_view host = authority;
    std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
        host = authority.substr(0, colon);
        std::string_view port = authority.substr(colon + 1);
        unsigned value = 0;
        auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || error != std::errc() || end != port.data() + port.size() || value == 0 ||
            value > 65535)
            return "has no valid port after the ':'";
    }
    if (!isHostName(host) && !isIpv6Literal(host)) return "has no valid host name";
    if (!isPath(rest.substr(slash))) return "has a character that a URL's path cannot hold";
    return std::nullopt;
}

std::optional<std::string> writeSiteSlot(std::string& program, std::string_view url) {
    if (auto problem = siteUrlProblem(url)) return "the address " + *problem;
    char marker[kSiteSlotMarkerSize] = KESTRUN_SITE_SLOT_MARKER;
    std::string_view needle(marker, sizeof marker);
    std::size_t at = program.find(needle);
    if (at == std::string::npos) return std::string("the program has no address slot");
    if (program.find(needle, at + 1) != std::string::npos) return std::string("the program has two address slots");
    if (program.size() - at < sizeof(SiteSlot)) return std::string("the program's address slot is cut short");
    char* slot = program.data() + at + kSiteSlotMarkerSize;
    std::memset(slot, 0, kSiteSlotUrlSize);
    std::memcpy(slot, url.data(), url.size());
    return std::nullopt;
}
