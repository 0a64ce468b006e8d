#include "rds/RDSTextBuffer.h"

#include <algorithm>
#include <cassert>

#include "rds/RDSCharset.h"

RDSTextBuffer::RDSTextBuffer(int length) : size(length) {
    assert(length > 0 && length <= kMaxLength);
    clear();
}

void RDSTextBuffer::clear() {
    received.fill(' ');
    arrived.fill(false);
    updateVisible();
}

void RDSTextBuffer::writeSegment(int position, std::span<const std::uint8_t> segment) {
    assert(position >= 0 && position + static_cast<int>(segment.size()) <= size);
    bool conflict = false;
    for (std::size_t i = 0; i < segment.size(); ++i) {
        const auto p = static_cast<std::size_t>(position) + i;
        if (arrived[p] && received[p] != segment[i]) conflict = true;
    }
    if (conflict) {
        received.fill(' ');
        arrived.fill(false);
    }
    for (std::size_t i = 0; i < segment.size(); ++i) {
        const auto p = static_cast<std::size_t>(position) + i;
        received[p] = segment[i];
        arrived[p] = true;
    }
    updateVisible();
}

bool RDSTextBuffer::isComplete() const {
    const int end = std::min(visibleLength + 1, size);  // the 0x0D itself must have arrived
    return std::all_of(arrived.begin(), arrived.begin() + end, [](bool a) { return a; });
}

void RDSTextBuffer::updateVisible() {
    visibleLength = 0;
    for (int p = 0; p < size; ++p) {
        if (arrived[p] && received[p] == kEndOfText) break;
        visible[p] = received[p];
        ++visibleLength;
    }
}

std::string RDSTextBuffer::text() const {
    std::string out = RDSCharset::toUTF8(codes());
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = out.find_last_not_of(' ');
    return out.substr(first, last - first + 1);
}
