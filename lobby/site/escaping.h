#pragma once
// The texts that go back out: into a page and into the log.
#include <cstddef>
#include <string>
#include <string_view>

namespace lobby {

std::string escapeHtml(std::string_view text);

// Bytes outside printable ASCII, quotes and backslashes as \xHH, cut to maxLength.
std::string escapeForLog(std::string_view text, std::size_t maxLength);

}  // namespace lobby
