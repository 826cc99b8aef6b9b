#pragma once
// A whole file read at once; each caller says in its own words what failed.
#include <optional>
#include <string>

namespace lobby {

// Nullopt when the file can't be opened or read; errno then says why.
std::optional<std::string> readFile(const std::string& path);

}  // namespace lobby
