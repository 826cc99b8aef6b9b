#pragma once
// The Windows clients for this lobby's address, made from the clients the package carries:
// the portable kestrun.exe and kestrun-x86.exe with the address written into their slot,
// their installers (when makensis is there) and SHA256SUMS. Nothing here needs a compiler.
#include <sys/types.h>

#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace lobby {

class ClientBuildsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Ends a makeClientBuilds under way, from another thread: the makensis it runs is killed,
// and no installer is made after it.
class BuildStop {
public:
    void stop();
    bool stopped() const;
    // For makeClientBuilds: runs `spawn` (which starts a child and gives its PID, or 0)
    // unless stopped; stop() kills that child until release() says it has exited.
    bool watch(const std::function<pid_t()>& spawn);
    void release();

private:
    mutable std::mutex mutex_;
    bool stopped_ = false;
    pid_t child_ = 0;
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
    // When set, told the names in outDir once the portable clients and their sums are
    // written, before the installers are made.
    std::function<void(const std::vector<std::string>&)> onPortable;
    BuildStop* stop = nullptr;
};

struct ClientBuilds {
    std::vector<std::string> files;  // names in outDir, SHA256SUMS last
    bool fromCache = false;
    std::vector<std::string> notes;  // why something is not offered, for the log
};

// Throws ClientBuildsError when the address is not one the clients can hold, when clientsDir
// has no client at all, or when outDir cannot be written.
ClientBuilds makeClientBuilds(const ClientBuildsConfig& config);
// The first of those checks, quick: all but a failing write. Makes outDir.
void prepareClientBuilds(const ClientBuildsConfig& config);
// The log's line on what was made, from where and how long it took.
std::string clientBuildsSummary(const ClientBuildsConfig& config, const ClientBuilds& made,
                                long long milliseconds);

// makeClientBuilds for a lobby that serves meanwhile, on a thread of the lobby's list
// (daemon/threads.h): `offer` is told the names to serve each time more are written,
// `report` the log's lines.
class BackgroundClientBuilds {
public:
    BackgroundClientBuilds(ClientBuildsConfig config,
                           std::function<void(const std::vector<std::string>&)> offer,
                           std::function<void(const std::string&)> report);
    BackgroundClientBuilds(const BackgroundClientBuilds&) = delete;
    BackgroundClientBuilds& operator=(const BackgroundClientBuilds&) = delete;

    // Returns when they are made, or soon after stop().
    void run();
    // From any thread: kills a makensis under way; nothing is made after it.
    void stop();

private:
    ClientBuildsConfig config_;
    std::function<void(const std::vector<std::string>&)> offer_;
    std::function<void(const std::string&)> report_;
    BuildStop stop_;
};

// The hex SHA-256 of `bytes`.
std::string sha256Hex(const std::string& bytes);

}  // namespace lobby
