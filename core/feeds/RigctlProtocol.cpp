#include "feeds/RigctlProtocol.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

namespace {

struct CommandName {
    char shortName;  // 0: reached only by its long name
    std::string_view longName;
};

// What we answer, by the names hamlib gives the commands.
constexpr CommandName kAnsweredCommands[] = {
    {'f', "get_freq"}, {'F', "set_freq"},      {'m', "get_mode"},   {'M', "set_mode"},
    {'l', "get_level"}, {'v', "get_vfo"},      {'V', "set_vfo"},    {'t', "get_ptt"},
    {'s', "get_split_vfo"}, {'q', "quit"},     {'Q', "quit"},       {0, "chk_vfo"},
    {0, "dump_state"}, {0, "get_powerstat"}, {0, "get_lock_mode"},
};

// Commands a rigctld knows that a receiver without a transmitter, memories or rotator cannot
// carry out: they get "not available" rather than "invalid", so a client can tell them apart.
constexpr CommandName kUnavailableCommands[] = {
    {'L', "set_level"},      {'u', "get_func"},       {'U', "set_func"},
    {'p', "get_parm"},       {'P', "set_parm"},       {'T', "set_ptt"},
    {'S', "set_split_vfo"},  {'I', "set_split_freq"}, {'i', "get_split_freq"},
    {'X', "set_split_mode"}, {'x', "get_split_mode"}, {'J', "set_rit"},
    {'j', "get_rit"},        {'Z', "set_xit"},        {'z', "get_xit"},
    {'N', "set_ts"},         {'n', "get_ts"},         {'R', "set_rptr_shift"},
    {'r', "get_rptr_shift"}, {'O', "set_rptr_offs"},  {'o', "get_rptr_offs"},
    {'C', "set_ctcss_tone"}, {'c', "get_ctcss_tone"}, {'D', "set_dcs_code"},
    {'d', "get_dcs_code"},   {'E', "set_mem"},        {'e', "get_mem"},
    {'G', "vfo_op"},         {'g', "scan"},           {'H', "set_channel"},
    {'h', "get_channel"},    {'A', "set_trn"},        {'a', "get_trn"},
    {'B', "set_bank"},       {'Y', "set_ant"},        {'y', "get_ant"},
    {'*', "reset"},          {'w', "send_cmd"},       {'b', "send_morse"},
    {'_', "get_info"},       {'1', "dump_caps"},      {'3', "dump_conf"},
    {'2', "power2mW"},       {'4', "mW2power"},       {0, "set_powerstat"},
    {0, "set_lock_mode"},    {0, "get_dcd"},
    {0, "send_dtmf"},        {0, "recv_dtmf"},        {0, "get_vfo_info"},
    {0, "get_vfo_list"},     {0, "set_vfo_opt"},      {0, "get_rig_info"},
    {0, "get_modes"},        {0, "get_clock"},        {0, "set_clock"},
    {0, "set_split_freq_mode"}, {0, "get_split_freq_mode"}, {0, "stop_morse"},
    {0, "wait_morse"},       {0, "send_voice_mem"},   {0, "halt"},
};

// The long name of `word` ("f", "\get_freq" or "get_freq") in `table`, or empty.
template <std::size_t N>
std::string_view findCommand(const CommandName (&table)[N], std::string_view word) {
    const bool isLong = word.starts_with('\\');
    if (isLong) word.remove_prefix(1);
    for (const CommandName& c : table) {
        if (word == c.longName) return c.longName;
        if (!isLong && word.size() == 1 && c.shortName != 0 && word[0] == c.shortName)
            return c.longName;
    }
    return {};
}

// Only printable ASCII and tabs make a command; anything else is noise on the line.
bool isText(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\t' || (byte >= 0x20 && byte < 0x7f);
    });
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t k = 0;
    while (k < line.size()) {
        while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
        const std::size_t start = k;
        while (k < line.size() && line[k] != ' ' && line[k] != '\t') ++k;
        if (k > start) out.push_back(line.substr(start, k - start));
    }
    return out;
}

std::optional<double> parseNumber(std::string_view text) {
    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace

struct RigctlProtocol::Outcome {
    int code = kOK;
    // Key and value of each answer line; an empty key prints the value alone.
    std::vector<std::pair<std::string_view, std::string>> values;
    bool closesConnection = false;
};

RigctlProtocol::RigctlProtocol(RigctlReceiver receiver) : receiver(std::move(receiver)) {}

RigctlProtocol::Reply RigctlProtocol::handleLine(std::string_view line) const {
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!isText(line)) return {.text = "RPRT -1\n", .isBadLine = true};
    std::vector<std::string_view> args = words(line);
    if (args.empty()) return {};

    // '+' separates the extended reply's lines with newlines, ';' and '|' with themselves.
    std::optional<char> separator;
    if (std::string_view first = args.front(); first[0] == '+' || first[0] == ';' || first[0] == '|') {
        separator = first[0] == '+' ? '\n' : first[0];
        first.remove_prefix(1);
        if (first.empty()) args.erase(args.begin());
        else args.front() = first;
        if (args.empty()) return {.text = "RPRT -1\n", .isBadLine = true};
    }

    std::string_view name = findCommand(kAnsweredCommands, args.front());
    Outcome outcome;
    if (name.empty()) {
        name = findCommand(kUnavailableCommands, args.front());
        if (name.empty()) return {.text = "RPRT -1\n", .isBadLine = true};
        outcome.code = kNotAvailable;
    }
    args.erase(args.begin());
    if (outcome.code == kOK) outcome = run(name, args);

    std::string text;
    if (!separator) {
        if (outcome.code != kOK || outcome.values.empty()) {
            text = "RPRT " + std::to_string(outcome.code) + "\n";
        } else {
            for (const auto& [key, value] : outcome.values) text += value + "\n";
        }
    } else {
        text = std::string(name) + ":";
        for (std::string_view arg : args) (text += ' ') += arg;
        if (outcome.code == kOK) {
            for (const auto& [key, value] : outcome.values) {
                text += *separator;
                if (!key.empty()) (text += key) += ": ";
                text += value;
            }
        }
        text += *separator;
        text += "RPRT " + std::to_string(outcome.code) + "\n";
    }
    return {.text = std::move(text), .closesConnection = outcome.closesConnection};
}

RigctlProtocol::Outcome RigctlProtocol::run(std::string_view name,
                                            const std::vector<std::string_view>& args) const {
    if (name == "get_freq") {
        const std::optional<std::int64_t> hz = receiver.getFrequencyHz();
        if (!hz) return {.code = kTimedOut};
        return {.values = {{"Frequency", std::to_string(*hz)}}};
    }
    if (name == "set_freq") return setFrequency(args);
    if (name == "get_mode") {
        const std::optional<RigctlMode> mode = receiver.getMode();
        if (!mode) return {.code = kTimedOut};
        const RigctlModeInfo& info = rigctlModeInfo(*mode);
        return {.values = {{"Mode", std::string(info.name)},
                           {"Passband", std::to_string(info.passbandHz)}}};
    }
    if (name == "set_mode") return setMode(args);
    if (name == "get_level") return getLevel(args);
    if (name == "get_vfo") return {.values = {{"VFO", "VFOA"}}};
    if (name == "set_vfo") {
        // One tuner, however a client names it: hamlib clients switch to VFOB and back while
        // they connect, and a refusal leaves them believing they are on VFOB.
        constexpr std::string_view kOurVFO[] = {"VFOA", "VFOB", "VFO", "currVFO", "Main", "Sub"};
        if (args.size() != 1 || std::ranges::find(kOurVFO, args[0]) == std::end(kOurVFO))
            return {.code = kInvalid};
        return {};
    }
    if (name == "get_ptt") return {.values = {{"PTT", "0"}}};
    if (name == "get_split_vfo") return {.values = {{"Split", "0"}, {"TX VFO", "VFOA"}}};
    if (name == "get_powerstat") return {.values = {{"Power Status", "1"}}};
    // hamlib clients ask before every set_mode and skip it unless the answer is "unlocked".
    if (name == "get_lock_mode") return {.values = {{"Locked", "0"}}};
    // 0: the client should not put a VFO before every command's arguments.
    if (name == "chk_vfo") return {.values = {{"ChkVFO", "0"}}};
    if (name == "dump_state") {
        Outcome dump;
        for (std::string& line : dumpStateLines()) dump.values.emplace_back("", std::move(line));
        return dump;
    }
    return {.closesConnection = true};  // quit
}

RigctlProtocol::Outcome RigctlProtocol::setFrequency(const std::vector<std::string_view>& args) const {
    // Clients send fractional hertz ("95700000.000000").
    const std::optional<double> hz = args.size() == 1 ? parseNumber(args[0]) : std::nullopt;
    if (!hz) return {.code = kInvalid};
    const auto rounded = static_cast<std::int64_t>(std::llround(std::clamp(*hz, -1.0, 1e12)));
    if (rounded < kMinFrequencyHz || rounded > kMaxFrequencyHz) return {.code = kInvalid};
    return {.code = receiver.setFrequencyHz(rounded) ? kOK : kTimedOut};
}

RigctlProtocol::Outcome RigctlProtocol::setMode(const std::vector<std::string_view>& args) const {
    if (args.empty() || args.size() > 2) return {.code = kInvalid};
    const std::optional<RigctlMode> mode = rigctlModeFromName(args[0]);
    // Each mode has a single passband here; any number (0 default, -1 unchanged) is accepted.
    if (!mode || (args.size() == 2 && !parseNumber(args[1]))) return {.code = kInvalid};
    return {.code = receiver.setMode(*mode) ? kOK : kTimedOut};
}

RigctlProtocol::Outcome RigctlProtocol::getLevel(const std::vector<std::string_view>& args) const {
    if (args.size() != 1) return {.code = kInvalid};
    if (args[0] != "STRENGTH") return {.code = kNotAvailable};
    const std::optional<int> strength = receiver.getStrengthDB();
    if (!strength) return {.code = kTimedOut};
    return {.values = {{"", std::to_string(*strength)}}};
}

std::vector<std::string> RigctlProtocol::dumpStateLines() {
    // hamlib bit masks: modes AM 0x1, FM 0x20, WFM 0x40; VFO A 0x1; antenna 1 0x1;
    // level STRENGTH 0x40000000.
    const std::string range = std::to_string(kMinFrequencyHz) + ".000000 " +
                              std::to_string(kMaxFrequencyHz) + ".000000 0x61 -1 -1 0x1 0x1";
    return {
        "1",  // protocol version: key=value settings follow, ended by "done"
        "2",  // rig model: NET rigctl
        "1",  // ITU region
        range, "0 0 0 0 0 0 0",  // receive ranges
        "0 0 0 0 0 0 0",         // no transmit ranges
        "0x61 1000", "0 0",      // tuning steps
        "0x40 200000", "0x20 12500", "0x1 10000", "0 0",  // filters: one per mode
        "0", "0", "0",           // max RIT, XIT, IF shift
        "0",                     // announces
        "", "",                  // no preamps, no attenuators
        "0x0", "0x0",            // get and set functions
        "0x40000000", "0x0",     // get and set levels
        "0x0", "0x0",            // get and set parameters
        "vfo_ops=0x0", "ptt_type=0x0", "targetable_vfo=0x0",
        "has_set_vfo=1", "has_get_vfo=1", "has_set_freq=1", "has_get_freq=1",
        "has_set_conf=0", "has_get_conf=0", "has_power2mW=0", "has_mW2power=0",
        "timeout=0", "rig_model=2",
        "done",
    };
}
