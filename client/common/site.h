#pragma once
// The lobby site's root, fixed when the client is built (KESTRUN_SITE_URL). It is defined
// in site.cpp, which each client program compiles with its own address.
extern const char* const kSiteUrl;
inline constexpr const char* kServerScriptPath = "server/server.php";
