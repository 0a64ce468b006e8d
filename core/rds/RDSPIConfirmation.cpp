#include "rds/RDSPIConfirmation.h"

#include <algorithm>

void RDSPIConfirmation::forget() {
    confirmedPI.reset();
    heldCount = 0;
}

void RDSPIConfirmation::hold(const RDSRawGroup& group, std::uint16_t pi) {
    if (heldCount == static_cast<int>(held.size())) {
        std::move(held.begin() + 1, held.end(), held.begin());
        --heldCount;
    }
    held[heldCount++] = {.group = group, .pi = pi};
}

std::span<const RDSPIConfirmation::Held> RDSPIConfirmation::offer(const RDSRawGroup& group,
                                                                  std::uint16_t pi) {
    if (confirmedPI == pi) {
        heldCount = 0;  // a challenger must win in a row
        ready[0] = {.group = group, .pi = pi};
        return {ready.data(), 1};
    }
    if (confirmedPI) {
        // Held groups are all of one challenger; another PI starts a new run.
        if (heldCount > 0 && held[0].pi != pi) heldCount = 0;
        hold(group, pi);
        if (heldCount < kGroupsToReplace) return {};
    } else {
        hold(group, pi);
        const int sameSoFar = static_cast<int>(std::count_if(
            held.begin(), held.begin() + heldCount, [pi](const Held& h) { return h.pi == pi; }));
        if (sameSoFar < kGroupsToConfirm) return {};
    }
    confirmedPI = pi;
    int n = 0;
    for (int i = 0; i < heldCount; ++i) {
        if (held[i].pi == pi) ready[n++] = held[i];
    }
    heldCount = 0;
    return {ready.data(), static_cast<std::size_t>(n)};
}
