#pragma once
// The files a host offers under /download/: the client builds for this lobby. Only plain
// file names directly inside the folder are served; no listing, no subfolders, no links.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace lobby {

class DownloadsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DownloadFile {
    std::string name;
    std::string contentType;
    std::shared_ptr<const std::string> body;
};

class Downloads {
public:
    // Throws DownloadsError if dir is not a readable folder.
    explicit Downloads(const std::string& dir);
    ~Downloads();
    Downloads(const Downloads&) = delete;
    Downloads& operator=(const Downloads&) = delete;

    // name: the path after /download/, still percent-encoded. Nullopt for anything that is
    // not a regular file of a plain name (letters, digits, '.', '-', '_'; no leading '.').
    // read false: only the file as last read, if unchanged since (an I/O thread's look;
    // the file may be up to 512 MiB).
    std::optional<DownloadFile> find(std::string_view name, bool read = true);
    // The same test without reading the file.
    bool has(std::string_view name);

private:
    struct Cached {
        std::int64_t mtime = 0, size = 0, inode = 0;
        DownloadFile file;
    };
    int dir_ = -1;
    std::mutex mutex_;
    std::unordered_map<std::string, Cached> cache_;
};

// A safe file name as find() accepts it, or nullopt.
std::optional<std::string> downloadName(std::string_view encoded);
std::string contentTypeOf(std::string_view name);

}  // namespace lobby
