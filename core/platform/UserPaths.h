#pragma once

#include <filesystem>

// Where the user's files live: $XDG_DOCUMENTS_DIR, else ~/Documents, else the temporary
// directory.
class UserPaths {
public:
    static std::filesystem::path documentsDir();
    static std::filesystem::path homeDir();
    // $XDG_CONFIG_HOME when it is an absolute path (as XDG asks), else ~/.config.
    static std::filesystem::path configDir();
};

// `synced` flushes the temporary file and its folder to disk around the rename, so a power
// cut leaves the old or the new file, never an empty one; it costs a disk wait.
enum class FileSync { none, synced };

// Replaces `target` with `contents` through a temporary file in the same folder and a rename,
// so a crash mid-write never leaves a half-written file. Returns false on failure.
bool writeFileAtomically(const std::filesystem::path& target, const std::string& contents,
                         std::string* error = nullptr, FileSync sync = FileSync::none);
