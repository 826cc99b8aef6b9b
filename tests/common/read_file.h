#pragma once
// A whole file as text; empty when it can't be read (the test's own checks then fail).
#include <fstream>
#include <sstream>
#include <string>

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
