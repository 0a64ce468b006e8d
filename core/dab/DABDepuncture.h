#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dab/DABTypes.h"

// Puncturing of one EEP sub-channel's logical frame: L1 blocks of 128 mother-code bits with
// vector PI1, L2 blocks with PI2, then the 24-bit tail.
struct DABEEPProfile {
    int L1 = 0;
    int L2 = 0;
    int PI1 = 0;
    int PI2 = 0;
    int bitrateKbps = 0;
    bool operator==(const DABEEPProfile&) const = default;
};

// Re-inserts the punctured positions of an EEP sub-channel as zero (unknown) soft values.
// Stateless; the vectors are those of DABFICDecoder::pCodes.
class DABDepuncture {
public:
    static constexpr int kBlockBits = 128;
    static constexpr int kTailBits = 24;

    // Option A, level 0…3 = 1-A…4-A.
    static std::optional<DABEEPProfile> eepAProfile(int protectionLevel, int sizeCU);
    // Option B, level 0…3 = 1-B…4-B (n × 32 kbit/s in 27n, 21n, 18n, 15n CU).
    static std::optional<DABEEPProfile> eepBProfile(int protectionLevel, int sizeCU);
    // The long-form protection value picks the option: 0…3 A, 4…7 B. Short form (UEP): nothing.
    static std::optional<DABEEPProfile> eepProfile(const DABSubchannel& subchannel);

    // (L1 + L2) × 128 + 24 mother-code soft values, or nothing when the profile is absent or
    // the input runs out before the tail.
    static std::optional<std::vector<float>> expandEEP_A(std::span<const float> punctured,
                                                         int protectionLevel, int sizeCU);
    static std::optional<std::vector<float>> expandEEP(std::span<const float> punctured,
                                                       const DABSubchannel& subchannel);
    // Allocation-free form: writes depunctured length(profile) values into out; false when the
    // input runs out before the tail (out then holds garbage).
    static bool expand(std::span<const float> punctured, const DABEEPProfile& profile,
                       std::span<float> out);
    static std::size_t depuncturedLength(const DABEEPProfile& profile) {
        return static_cast<std::size_t>(profile.L1 + profile.L2) * kBlockBits + kTailBits;
    }
    // Transmitted values one CIF of the profile carries.
    static std::size_t puncturedLength(const DABEEPProfile& profile);
    // Vector PI (1…24), first bit in the MSB.
    static std::uint32_t vector(int pi);
};
