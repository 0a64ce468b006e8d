#include "platform/UserPaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

bool writeFileAtomically(const std::filesystem::path& target, const std::string& contents,
                         std::string* error) {
    std::error_code ec;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    const std::filesystem::path temp =
        target.string() + ".tmp-" + std::to_string(static_cast<long>(getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            if (error) *error = "cannot write " + temp.string() + ": " + std::strerror(errno);
            return false;
        }
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.flush();
        if (!out) {
            if (error) *error = "write failed for " + temp.string();
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        if (error) *error = "cannot replace " + target.string() + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}
