#pragma once
// The lobby site's root: what the client was built with (KESTRUN_SITE_URL), or what a lobby
// wrote into the built client's address slot since (wire/site_slot.h). The slot is defined
// by the site library that each program links (see client/CMakeLists.txt).
#include <string>

const std::string& siteUrl();
inline constexpr const char* kServerScriptPath = "server/server.php";
