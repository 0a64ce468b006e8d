#pragma once

#include <exception>
#include <string>

// Failure of a dongle operation, thrown by RTLSDRDevice. It holds the case and the payload
// the status text needs; describe() writes them as the case name with the payload in
// parentheses, a text payload in double quotes: deviceNotFound, openFailed(-3),
// configFailed("set_sample_rate"), streamStartFailed(-1).
struct RTLSDRError : std::exception {
    enum class Kind { openFailed, configFailed, streamStartFailed, deviceNotFound };

    // librtlsdr's status (openFailed, streamStartFailed) or the failed step (configFailed).
    RTLSDRError(Kind kind, int status, std::string text);

    // `reason`: what the source said, when it can say more than a status (a network dongle).
    static RTLSDRError openFailed(int status, std::string reason = {}) {
        return {Kind::openFailed, status, std::move(reason)};
    }
    static RTLSDRError configFailed(std::string text) {
        return {Kind::configFailed, 0, std::move(text)};
    }
    static RTLSDRError streamStartFailed(int status) {
        return {Kind::streamStartFailed, status, {}};
    }
    static RTLSDRError deviceNotFound() { return {Kind::deviceNotFound, 0, {}}; }

    std::string describe() const;
    // The describe() text as it was at construction.
    const char* what() const noexcept override { return description.c_str(); }

    Kind kind;
    int status = 0;
    std::string text;

private:
    std::string description;
};
