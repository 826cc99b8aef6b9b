#pragma once
// The lobby site's root, fixed when the client is built (KESTRUN_SITE_URL). It is defined
// by the site library that each program links (see client/CMakeLists.txt).
extern const char* const kSiteUrl;
inline constexpr const char* kServerScriptPath = "server/server.php";
