#pragma once
// The files of the Windows clients a lobby offers, as the package, the builds, the downloads
// and the website name them: one row per architecture, then the checksums.
#include <array>
#include <string_view>

namespace lobby {

struct ClientFile {
    std::string_view name;
    std::string_view label;  // the website's link text
};

struct ClientArch {
    ClientFile portable;  // also the packaged client the builds start from
    ClientFile setup;
    bool win64;
};

inline constexpr std::array<ClientArch, 2> kClientArchs{{
    {{"kestrun.exe", "Kestrun client for Windows (64-bit), one file, no installation"},
     {"kestrun-setup.exe", "Installer for Windows (64-bit)"},
     true},
    {{"kestrun-x86.exe", "Kestrun client for 32-bit Windows, one file"},
     {"kestrun-setup-x86.exe", "Installer for 32-bit Windows"},
     false},
}};

inline constexpr ClientFile kChecksums{"SHA256SUMS", "SHA-256 checksums of these files"};

}  // namespace lobby
