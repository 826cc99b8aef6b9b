#pragma once
// Composes the GET URL of one lobby request. Values go in byte for byte: the
// lobby accepts raw blanks and apostrophes, and WinINet escapes what it must.
#include <string>

std::string composeRequestUrl(const std::string& baseUrl, const std::string& action,
                              const std::string& game, const std::string& data);
