#pragma once

// Running the independent peer programs (dump1090, rigctl, kissutil, mosquitto…) the feed
// tests check our servers with: finding them, a free port for them, and a child process whose
// output goes to a log file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace peer {

// The program's path on $PATH, or none: the test then skips, saying which is missing.
inline std::optional<std::string> findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

// A port on 127.0.0.1 free a moment ago, for a peer's listener.
inline std::uint16_t freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

// A program the test started, standard output and error in a log file; ended (SIGTERM, then
// SIGKILL after 2 s) and reaped when it goes.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args, std::filesystem::path log)
        : logPath(std::move(log)) {
        std::vector<std::string> words{program};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { end(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void end() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        for (int k = 0; k < 200; ++k) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    bool isRunning() {
        if (pid <= 0) return false;
        if (::waitpid(pid, &status, WNOHANG) == 0) return true;
        pid = -1;
        return false;
    }
    // True when it ended by itself with exit code 0 (after isRunning() turned false).
    bool exitedCleanly() const { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }
    std::string output() const {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    pid_t pid = -1;
    int status = 0;
    std::filesystem::path logPath;
};

}  // namespace peer
