#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "feeds/RigctlReceiver.h"

// hamlib's rigctld text protocol for one receiver: a command line in, the reply out. Plain
// replies give values one per line, or "RPRT n" for set commands and failures. A line starting
// with '+', ';' or '|' asks for the extended form: the command's long name and arguments, then
// "Key: value" lines and "RPRT n", separated by newlines ('+') or by that character.
//
// Answers what hamlib's NET rigctl backend (rigctl -m 2) asks: \chk_vfo, \dump_state, frequency,
// mode, STRENGTH, VFO, PTT, split and power. Other known commands answer RPRT -11 (not
// available); anything else RPRT -1. Stateless apart from the receiver: one object may serve
// every client of a server, one line at a time.
class RigctlProtocol {
public:
    // hamlib's error codes, negated in replies.
    static constexpr int kOK = 0;
    static constexpr int kInvalid = -1;    // RIG_EINVAL: bad argument or unknown command
    static constexpr int kTimedOut = -5;   // RIG_ETIMEOUT: the receiver did not answer
    static constexpr int kNotAvailable = -11;  // RIG_ENAVAIL

    // What the receiver tunes, from the tuner's range (an R828D's 24..1766 MHz).
    static constexpr std::int64_t kMinFrequencyHz = 24'000'000;
    static constexpr std::int64_t kMaxFrequencyHz = 1'766'000'000;

    struct Reply {
        std::string text;  // empty for an empty line, which gets no answer
        bool closesConnection = false;  // q: the connection ends once `text` is sent
        bool isBadLine = false;         // garbage or an unknown command
    };

    explicit RigctlProtocol(RigctlReceiver receiver);

    // `line` without its line ending (a trailing CR is ignored).
    Reply handleLine(std::string_view line) const;

    // What \dump_state sends, one entry per line.
    static std::vector<std::string> dumpStateLines();

private:
    struct Outcome;
    Outcome run(std::string_view name, const std::vector<std::string_view>& args) const;
    Outcome setFrequency(const std::vector<std::string_view>& args) const;
    Outcome setMode(const std::vector<std::string_view>& args) const;
    Outcome getLevel(const std::vector<std::string_view>& args) const;

    RigctlReceiver receiver;
};
