#pragma once
// The lobby site's root, fixed when the client is built (KESTRUN_SITE_URL).
#ifndef KESTRUN_SITE_URL
#define KESTRUN_SITE_URL "http://127.0.0.1:8080/"
#endif

inline constexpr const char* kSiteUrl = KESTRUN_SITE_URL;
inline constexpr const char* kServerScriptPath = "server/server.php";
