#pragma once
// Composes the GET URL of one lobby request. Values go in byte for byte: the
// lobby accepts raw blanks and apostrophes, and WinINet escapes what it must.
#include <string>

std::string composeRequestUrl(const std::string& baseUrl, const std::string& action,
                              const std::string& game, const std::string& data);

// The lobby's page that tells a host whether players can reach its races. `siteUrl` is a
// site root (it ends in '/'): the page lies under its path, not at the host's root.
std::string composeCheckPageUrl(const std::string& siteUrl);
