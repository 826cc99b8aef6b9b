#include "site/downloads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "clients/client_files.h"
#include "protocol/query.h"

namespace lobby {
namespace {

constexpr std::int64_t kMaxFileSize = 512LL << 20;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

std::optional<std::string> downloadName(std::string_view encoded) {
    auto name = percentDecode(encoded);
    if (!name || name->empty() || name->size() > 128 || name->front() == '.') return std::nullopt;
    for (char c : *name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_'))
            return std::nullopt;
    return name;
}

std::string contentTypeOf(std::string_view name) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {".exe", "application/vnd.microsoft.portable-executable"},
        {".zip", "application/zip"},
        {".deb", "application/vnd.debian.binary-package"},
        {".txt", "text/plain; charset=utf-8"},
    };
    if (name == kChecksums.name) return "text/plain; charset=utf-8";
    for (const auto& [suffix, type] : kTypes)
        if (endsWith(name, suffix)) return std::string(type);
    return "application/octet-stream";
}

Downloads::Downloads(const std::string& dir) {
    dir_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_ < 0) throw DownloadsError("cannot open folder " + dir + ": " + std::strerror(errno));
}

Downloads::~Downloads() { ::close(dir_); }

bool Downloads::has(std::string_view encoded) {
    auto name = downloadName(encoded);
    struct stat st{};
    return name && ::fstatat(dir_, name->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && st.st_size <= kMaxFileSize;
}

std::optional<DownloadFile> Downloads::find(std::string_view encoded, bool read) {
    auto name = downloadName(encoded);
    if (!name) return std::nullopt;
    // O_NOFOLLOW: a link inside the folder could point anywhere.
    int fd = ::openat(dir_, name->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxFileSize)
        return std::nullopt;
    const std::int64_t mtime = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    {
        std::lock_guard lock(mutex_);
        auto it = cache_.find(*name);
        if (it != cache_.end() && it->second.mtime == mtime && it->second.size == st.st_size &&
            it->second.inode == static_cast<std::int64_t>(st.st_ino))
            return it->second.file;
    }
    if (!read) return std::nullopt;
    std::string body(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < body.size()) {
        ssize_t n = ::pread(fd, body.data() + done, body.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    DownloadFile file{*name, contentTypeOf(*name), std::make_shared<const std::string>(std::move(body))};
    std::lock_guard lock(mutex_);
    cache_[*name] = Cached{mtime, st.st_size, static_cast<std::int64_t>(st.st_ino), file};
    return file;
}

}  // namespace lobby
