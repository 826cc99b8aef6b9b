#include "wire/race_data.h"

#include <limits>

#include "wire/text_rules.h"

namespace {

constexpr std::string_view kNamePrefix = "name:";
constexpr std::string_view kIpMarker = ";ip:";
constexpr std::string_view kIpPrefix = "ip:";

}  // namespace

std::string raceAddData(std::string_view name, std::string_view decimalIp) {
    return std::string(kNamePrefix).append(name).append(kIpMarker).append(decimalIp);
}

std::string raceRemData(std::string_view decimalIp) {
    return std::string(kIpPrefix).append(decimalIp);
}

std::optional<std::uint32_t> parseDecimalAddress(std::string_view text) {
    auto value = parseDigits(text, 10);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::optional<RaceAddData> parseRaceAddData(std::string_view data) {
    if (!data.starts_with(kNamePrefix)) return std::nullopt;
    // A valid name holds no ';', so the last marker is the real one.
    std::size_t marker = data.rfind(kIpMarker);
    if (marker == std::string_view::npos || marker < kNamePrefix.size()) return std::nullopt;
    auto ip = parseDecimalAddress(data.substr(marker + kIpMarker.size()));
    if (!ip) return std::nullopt;
    return RaceAddData{std::string(data.substr(kNamePrefix.size(), marker - kNamePrefix.size())),
                       *ip};
}

std::optional<std::uint32_t> parseRaceRemData(std::string_view data) {
    if (!data.starts_with(kIpPrefix)) return std::nullopt;
    return parseDecimalAddress(data.substr(kIpPrefix.size()));
}
