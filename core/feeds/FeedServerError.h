#pragma once

#include <cstdint>
#include <exception>
#include <string>

// Failure to open a feed's listening socket, thrown by FeedTCPServer's constructor. It holds the
// case, the address and port asked for and the system's error number; describe() says what went
// wrong in words a user can act on ("port 30003 is already in use on 127.0.0.1").
struct FeedServerError : std::exception {
    enum class Kind { badAddress, socketFailed, bindFailed, listenFailed };

    FeedServerError(Kind kind, std::string address, std::uint16_t port, int errorNumber);

    std::string describe() const;
    // The describe() text as it was at construction.
    const char* what() const noexcept override { return description.c_str(); }

    Kind kind;
    std::string address;
    std::uint16_t port = 0;
    int errorNumber = 0;  // errno, or getaddrinfo's code for badAddress

private:
    std::string description;
};
