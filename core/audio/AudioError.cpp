#include "audio/AudioError.h"

namespace {

const char* caseName(AudioError::Kind kind) {
    switch (kind) {
        case AudioError::Kind::initializeFailed:
            return "initializeFailed";
        case AudioError::Kind::formatCreationFailed:
            return "formatCreationFailed";
        case AudioError::Kind::noOutputDevice:
            return "noOutputDevice";
        case AudioError::Kind::engineStartFailed:
            return "engineStartFailed";
    }
    return "unknown";
}

}  // namespace

std::string AudioError::describe() const {
    std::string text = caseName(kind);
    if (!message.empty()) text += "(\"" + message + "\")";
    return text;
}
