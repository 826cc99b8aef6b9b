#pragma once
#include <string>
#include <string_view>

namespace lobby {

// WinINet may put a blank of a race name into the request line as it is, which HTTP parsers
// refuse. Blanks between the method and the version become %20; other lines stay as they are.
std::string mendRequestLine(std::string_view line);
// Control bytes of a request target as %XX, the rest as it is.
std::string percentEncodeControls(std::string_view text);
// Method, target and HTTP version, separated by single blanks, no control bytes.
bool isPlainRequestLine(std::string_view line);

}  // namespace lobby
