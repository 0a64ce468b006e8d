#include "feeds/KISSFormat.h"

void appendKISSDataFrame(std::span<const std::uint8_t> frame, std::string& out) {
    if (frame.empty()) return;
    out.reserve(out.size() + frame.size() + frame.size() / 8 + 3);
    out.push_back(static_cast<char>(kiss::kFEND));
    out.push_back(static_cast<char>(kiss::kDataFrame));
    for (const std::uint8_t b : frame) {
        if (b == kiss::kFEND) {
            out.push_back(static_cast<char>(kiss::kFESC));
            out.push_back(static_cast<char>(kiss::kTFEND));
        } else if (b == kiss::kFESC) {
            out.push_back(static_cast<char>(kiss::kFESC));
            out.push_back(static_cast<char>(kiss::kTFESC));
        } else {
            out.push_back(static_cast<char>(b));
        }
    }
    out.push_back(static_cast<char>(kiss::kFEND));
}

std::string kissDataFrame(std::span<const std::uint8_t> frame) {
    std::string out;
    appendKISSDataFrame(frame, out);
    return out;
}
