#include "clients/client_builds.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "clients/client_files.h"
#include "system/read_file.h"
#include "wire/site_slot.h"
#include "wire/text_rules.h"

extern char** environ;

namespace lobby {
namespace {

// A client's name in the clients folder and in outDir, and its installer's.
struct Arch {
    std::string client, setup;
    bool win64;
};
const std::vector<Arch> kArchs = [] {
    std::vector<Arch> archs;
    for (const ClientArch& arch : kClientArchs)
        archs.push_back({std::string(arch.portable.name), std::string(arch.setup.name), arch.win64});
    return archs;
}();
const std::string kSums(kChecksums.name);
constexpr const char* kScript = "kestrun.nsi";
constexpr const char* kIcon = "kestrun.ico";
constexpr const char* kStamp = ".stamp";
constexpr const char* kMakensisLog = ".makensis.log";

std::string join(const std::string& dir, const std::string& name) { return dir + "/" + name; }

bool isFile(const std::string& path, struct stat* st = nullptr) {
    struct stat s{};
    if (::stat(path.c_str(), &s) != 0 || !S_ISREG(s.st_mode)) return false;
    if (st) *st = s;
    return true;
}

// An empty file is as good as none here.
std::string readWhole(const std::string& path) {
    auto bytes = readFile(path);
    if (!bytes || bytes->empty()) throw ClientBuildsError("cannot read " + path);
    return std::move(*bytes);
}

// Hidden while it is being written: the download route never serves a name with a leading '.'.
std::string partOf(const std::string& dir, const std::string& name) { return join(dir, "." + name + ".part"); }

// Whole or not at all: a lobby stopped half-way leaves no cut-short file under the real name.
void writeFile(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::string path = join(dir, name), temporary = partOf(dir, name);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!(out << bytes) || !out.flush())
            throw ClientBuildsError("cannot write " + temporary + ": " + std::strerror(errno));
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
        throw ClientBuildsError("cannot write " + path + ": " + std::strerror(errno));
}

std::string findInPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path && *path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && ::access(join(dir, program).c_str(), X_OK) == 0) return join(dir, program);
    return {};
}

// Size and modification time: a package upgrade or a new makensis changes them.
std::string fileLine(const std::string& label, const std::string& path) {
    struct stat st{};
    if (!isFile(path, &st)) return label + " none\n";
    return label + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "\n";
}

// Runs makensis without a shell. Its output goes to a log in outDir; HOME and TMPDIR point
// there too, the one place a hardened service may write.
std::string runMakensis(const std::string& makensis, const std::vector<std::string>& args,
                        const std::string& outDir) {
    std::string log = join(outDir, kMakensisLog);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "HOME=" + outDir, "TMPDIR=" + outDir, "LC_ALL=C"};
    std::vector<char*> argv{const_cast<char*>(makensis.c_str())}, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    int error = posix_spawn(&pid, makensis.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return std::string("cannot run ") + makensis + ": " + std::strerror(error);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        ::unlink(log.c_str());
        return {};
    }
    std::string output, last;
    try {
        std::istringstream lines(readWhole(log));
        while (std::getline(lines, output))
            if (!output.empty()) last = output;
    } catch (const ClientBuildsError&) {
    }
    return makensis + " failed (" +
           (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                              : "signal " + std::to_string(WTERMSIG(status))) +
           ")" + (last.empty() ? "" : ": " + last);
}

}  // namespace

std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw ClientBuildsError("SHA-256 failed");
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) appendHex(hex, digest[i]);
    return hex;
}

ClientBuilds makeClientBuilds(const ClientBuildsConfig& config) {
    if (auto problem = siteUrlProblem(config.publicUrl))
        throw ClientBuildsError("the public URL " + config.publicUrl + " " + *problem);
    const std::string& in = config.clientsDir;
    const std::string& out = config.outDir;
    ClientBuilds result;

    std::vector<const Arch*> archs;
    for (const Arch& arch : kArchs) {
        if (isFile(join(in, arch.client)))
            archs.push_back(&arch);
        else
            result.notes.push_back("no " + arch.client + " in " + in + ": not offered");
    }
    if (archs.empty())
        throw ClientBuildsError("no client in " + in + " (the package installs " + kArchs[0].client +
                                " and " + kArchs[1].client + " there)");
    std::string makensis = config.makensis.empty() ? findInPath("makensis") : config.makensis;
    bool installers = !makensis.empty() && isFile(join(in, kScript)) && isFile(join(in, kIcon));
    if (makensis.empty())
        result.notes.push_back("makensis not found (install the nsis package): the portable clients are offered alone");
    else if (!installers)
        result.notes.push_back("no " + std::string(kScript) + " and " + kIcon + " in " + in +
                               ": the portable clients are offered alone");

    std::string stamp = "url " + config.publicUrl + "\nversion " + config.version + "\n";
    for (const Arch& arch : kArchs) stamp += fileLine(arch.client, join(in, arch.client));
    stamp += fileLine(kScript, join(in, kScript)) + fileLine(kIcon, join(in, kIcon));
    stamp += installers ? fileLine("makensis " + makensis, makensis) : "makensis none\n";

    if (::mkdir(out.c_str(), 0755) != 0 && errno != EEXIST)
        throw ClientBuildsError("cannot make " + out + ": " + std::strerror(errno));

    if (config.cache && isFile(join(out, kStamp))) {
        std::istringstream kept(readWhole(join(out, kStamp)));
        std::string previous, line;
        std::vector<std::string> files;
        bool whole = std::getline(kept, previous, '\0') && previous.rfind(stamp, 0) == 0;
        std::istringstream names(previous.substr(std::min(previous.size(), stamp.size())));
        while (whole && std::getline(names, line))
            if (line.rfind("file ", 0) == 0) {
                files.push_back(line.substr(5));
                whole = isFile(join(out, files.back()));
            }
        if (whole && !files.empty()) {
            result.files = std::move(files);
            result.fromCache = true;
            return result;
        }
    }
    // Nothing of an earlier address stays behind to be served.
    ::unlink(join(out, kStamp).c_str());
    for (const Arch& arch : kArchs)
        for (const std::string& name : {arch.client, arch.setup}) ::unlink(join(out, name).c_str());
    ::unlink(join(out, kSums).c_str());
    bool complete = true;

    std::string sums;
    auto add = [&](const std::string& name, const std::string& bytes) {
        result.files.push_back(name);
        sums += sha256Hex(bytes) + "  " + name + "\n";
    };
    for (const Arch* arch : archs) {
        std::string program = readWhole(join(in, arch->client));
        if (auto problem = writeSiteSlot(program, config.publicUrl))
            throw ClientBuildsError(join(in, arch->client) + ": " + *problem);
        writeFile(out, arch->client, program);
        add(arch->client, program);
    }
    for (const Arch* arch : archs) {
        if (!installers) continue;
        std::string setup = join(out, arch->setup), part = partOf(out, arch->setup);
        std::vector<std::string> args{"-V2", "-NOCD"};
        if (arch->win64) args.push_back("-DWIN64");
        args.insert(args.end(), {"-DVERSION=" + config.version, "-DCLIENT_EXE=" + join(out, arch->client),
                                 "-DICON=" + join(in, kIcon), "-DOUTFILE=" + part, join(in, kScript)});
        std::string failure = runMakensis(makensis, args, out);
        if (failure.empty() && std::rename(part.c_str(), setup.c_str()) != 0)
            failure = "cannot write " + setup + ": " + std::strerror(errno);
        if (!failure.empty()) {
            ::unlink(part.c_str());
            result.notes.push_back(arch->setup + " not offered: " + failure);
            complete = false;
            continue;
        }
        add(arch->setup, readWhole(setup));
    }
    writeFile(out, kSums, sums);
    result.files.push_back(kSums);
    // A failed installer is tried again at the next start.
    if (config.cache && complete) {
        std::string kept = stamp;
        for (const std::string& name : result.files) kept += "file " + name + "\n";
        writeFile(out, kStamp, kept);
    }
    return result;
}

}  // namespace lobby
