#include "feeds/FeedServerError.h"

#include <netdb.h>

#include <cerrno>
#include <system_error>
#include <utility>

FeedServerError::FeedServerError(Kind kind, std::string address, std::uint16_t port,
                                 int errorNumber)
    : kind(kind), address(std::move(address)), port(port), errorNumber(errorNumber) {
    description = describe();
}

std::string FeedServerError::describe() const {
    const std::string where = std::to_string(port) + " on " + address;
    // std::system_category().message is the thread-safe strerror.
    const std::string reason = std::system_category().message(errorNumber);
    switch (kind) {
    case Kind::badAddress:
        return "'" + address + "' is not a numeric IP address (" + gai_strerror(errorNumber) + ")";
    case Kind::socketFailed: return "cannot open a socket for port " + where + ": " + reason;
    case Kind::bindFailed:
        if (errorNumber == EADDRINUSE) return "port " + where + " is already in use";
        if (errorNumber == EACCES) return "port " + where + " needs more privileges";
        if (errorNumber == EADDRNOTAVAIL) return address + " is not an address of this machine";
        return "cannot bind port " + where + ": " + reason;
    case Kind::listenFailed: return "cannot listen on port " + where + ": " + reason;
    }
    return "cannot open port " + where;
}
