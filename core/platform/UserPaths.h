#pragma once

#include <filesystem>

// Where the user's files live: $XDG_DOCUMENTS_DIR, else ~/Documents, else the temporary
// directory.
class UserPaths {
public:
    static std::filesystem::path documentsDir();
    static std::filesystem::path homeDir();
};

// Replaces `target` with `contents` through a temporary file in the same folder and a rename,
// so a crash mid-write never leaves a half-written file. Returns false on failure.
bool writeFileAtomically(const std::filesystem::path& target, const std::string& contents,
                         std::string* error = nullptr);
