#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "rds/RDSBlockSync.h"

// Keeps groups of a false synchronisation or of another station out: a group is used only
// when its PI is the confirmed one. A PI is confirmed by two groups carrying it (held groups
// are then released in order, so nothing of the first group is lost); once confirmed, a
// different PI in three groups in a row takes over (retune without reset).
// Not thread-safe; no allocation.
class RDSPIConfirmation {
public:
    struct Held {
        RDSRawGroup group;
        std::uint16_t pi = 0;
    };
    static constexpr int kGroupsToConfirm = 2;
    static constexpr int kGroupsToReplace = 3;

    // A decodable group with its PI; the groups to use now, oldest first (valid until the
    // next call).
    std::span<const Held> offer(const RDSRawGroup& group, std::uint16_t pi);
    // Forget the confirmed PI and held groups (reset, or a long loss of signal).
    void forget();
    std::optional<std::uint16_t> confirmed() const { return confirmedPI; }

private:
    void hold(const RDSRawGroup& group, std::uint16_t pi);

    std::optional<std::uint16_t> confirmedPI;
    std::array<Held, 8> held{};  // unconfirmed groups, oldest first
    int heldCount = 0;
    std::array<Held, 9> ready{};
};
