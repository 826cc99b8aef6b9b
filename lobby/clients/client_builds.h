#pragma once
// The Windows clients for this lobby's address, made from the clients the package carries:
// the portable kestrun.exe and kestrun-x86.exe with the address written into their slot,
// their installers (when makensis is there) and SHA256SUMS. Nothing here needs a compiler.
#include <stdexcept>
#include <string>
#include <vector>

namespace lobby {

class ClientBuildsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kPackagedClientsDir = "/usr/share/kestrun-lobby";

struct ClientBuildsConfig {
    std::string publicUrl;                       // checked by siteUrlProblem (wire/site_slot.h)
    std::string clientsDir = kPackagedClientsDir;  // kestrun.exe, kestrun-x86.exe, kestrun.nsi, kestrun.ico
    std::string outDir;                          // created if missing
    std::string version;                         // the installers' version
    // Reuse what outDir holds when it was made for the same address from the same files; a
    // stamp there (.stamp) says what that was.
    bool cache = true;
    // Empty: makensis is looked up in PATH.
    std::string makensis;
};

struct ClientBuilds {
    std::vector<std::string> files;  // names in outDir, SHA256SUMS last
    bool fromCache = false;
    std::vector<std::string> notes;  // why something is not offered, for the log
};

// Throws ClientBuildsError when the address is not one the clients can hold, when clientsDir
// has no client at all, or when outDir cannot be written.
ClientBuilds makeClientBuilds(const ClientBuildsConfig& config);

// The hex SHA-256 of `bytes`.
std::string sha256Hex(const std::string& bytes);

}  // namespace lobby
