#pragma once
// The front page's script (site.js), built into the daemon as it is in the source tree.
#include <string_view>

namespace lobby {
extern const std::string_view kSiteScript;
}
