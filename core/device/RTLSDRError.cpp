#include "device/RTLSDRError.h"

#include <utility>

RTLSDRError::RTLSDRError(Kind kind, int status, std::string text)
    : kind(kind), status(status), text(std::move(text)) {
    description = describe();
}

std::string RTLSDRError::describe() const {
    switch (kind) {
    case Kind::openFailed:
        return "openFailed(" + std::to_string(status) + ")" + (text.empty() ? "" : ": " + text);
    case Kind::configFailed: return "configFailed(\"" + text + "\")";
    case Kind::streamStartFailed: return "streamStartFailed(" + std::to_string(status) + ")";
    case Kind::deviceNotFound: return "deviceNotFound";
    }
    return "unknown";
}
