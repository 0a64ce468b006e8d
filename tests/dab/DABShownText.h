#pragma once

#include <string>

// A text as the receiver shows it after the DAB character table: capital D with stroke has no
// code there and travels as ETH (the same glyph).
inline std::string shownDABText(std::string utf8) {
    const std::string dStroke = "\xC4\x90", eth = "\xC3\x90";
    for (std::size_t at; (at = utf8.find(dStroke)) != std::string::npos;) utf8.replace(at, dStroke.size(), eth);
    return utf8;
}
