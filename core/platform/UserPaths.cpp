#include "platform/UserPaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

std::filesystem::path UserPaths::homeDir() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    return std::filesystem::temp_directory_path();
}

std::filesystem::path UserPaths::documentsDir() {
    if (const char* xdg = std::getenv("XDG_DOCUMENTS_DIR"); xdg != nullptr && *xdg != '\0')
        return xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        std::error_code ec;
        const std::filesystem::path docs = std::filesystem::path(home) / "Documents";
        if (std::filesystem::is_directory(docs, ec) || std::filesystem::create_directories(docs, ec))
            return docs;
    }
    return std::filesystem::temp_directory_path();
}

std::filesystem::path UserPaths::configDir() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') return xdg;
    return homeDir() / ".config";
}

namespace {

// Writes all of `contents` to a new file and, when asked, forces it to disk.
bool writeWhole(const std::filesystem::path& path, const std::string& contents, FileSync sync, std::string* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    if (ok && sync == FileSync::synced) ok = ::fsync(fd) == 0;
    if (!ok && error) *error = "write failed for " + path.string() + ": " + std::strerror(errno);
    ok = ::close(fd) == 0 && ok;
    return ok;
}

void syncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool writeFileAtomically(const std::filesystem::path& target, const std::string& contents,
                         std::string* error, FileSync sync) {
    std::error_code ec;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    const std::filesystem::path temp =
        target.string() + ".tmp-" + std::to_string(static_cast<long>(getpid()));
    if (!writeWhole(temp, contents, sync, error)) {
        std::filesystem::remove(temp, ec);
        return false;
    }
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        if (error) *error = "cannot replace " + target.string() + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    if (sync == FileSync::synced) syncFolder(target.parent_path());
    return true;
}
