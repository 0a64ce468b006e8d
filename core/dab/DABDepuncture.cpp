#include "dab/DABDepuncture.h"

#include <bit>

#include "dab/DABFICDecoder.h"
#include "platform/DebugLog.h"

namespace {

std::optional<DABEEPProfile> makeProfile(int L1, int L2, int PI1, int PI2, int bitrateKbps) {
    return DABEEPProfile{.L1 = L1, .L2 = L2, .PI1 = PI1, .PI2 = PI2, .bitrateKbps = bitrateKbps};
}

}  // namespace

std::uint32_t DABDepuncture::vector(int pi) {
    return DABFICDecoder::pCodes[static_cast<std::size_t>(pi - 1)];
}

std::optional<DABEEPProfile> DABDepuncture::eepAProfile(int protectionLevel, int sizeCU) {
    if (sizeCU <= 0) return std::nullopt;
    int bitrate = 0;
    switch (protectionLevel) {
        case 0: bitrate = sizeCU * 8 / 12; break;
        case 1: bitrate = sizeCU; break;
        case 2: bitrate = sizeCU * 8 / 6; break;
        case 3: bitrate = sizeCU * 2; break;
        default: return std::nullopt;
    }
    if (bitrate <= 0 || bitrate % 8 != 0) return std::nullopt;
    const int n = bitrate / 8;
    switch (protectionLevel) {
        case 0: return makeProfile(6 * n - 3, 3, 24, 23, bitrate);
        case 1: return n == 1 ? makeProfile(5, 1, 13, 12, bitrate)
                              : makeProfile(2 * n - 3, 4 * n + 3, 14, 13, bitrate);
        case 2: return makeProfile(6 * n - 3, 3, 8, 7, bitrate);
        default: return makeProfile(4 * n - 3, 2 * n + 3, 3, 2, bitrate);
    }
}

std::optional<DABEEPProfile> DABDepuncture::eepBProfile(int protectionLevel, int sizeCU) {
    static constexpr int kCUPerN[4] = {27, 21, 18, 15};
    static constexpr int kPI1[4] = {10, 6, 4, 2};
    if (protectionLevel < 0 || protectionLevel > 3 || sizeCU <= 0) return std::nullopt;
    const auto level = static_cast<std::size_t>(protectionLevel);
    if (sizeCU % kCUPerN[level] != 0) return std::nullopt;
    const int n = sizeCU / kCUPerN[level];
    return makeProfile(24 * n - 3, 3, kPI1[level], kPI1[level] - 1, 32 * n);
}

std::optional<DABEEPProfile> DABDepuncture::eepProfile(const DABSubchannel& subchannel) {
    if (subchannel.isShort) return std::nullopt;
    if (subchannel.protection >= 0 && subchannel.protection <= 3) {
        return eepAProfile(subchannel.protection, subchannel.sizeCU);
    }
    if (subchannel.protection >= 4 && subchannel.protection <= 7) {
        return eepBProfile(subchannel.protection - 4, subchannel.sizeCU);
    }
    return std::nullopt;
}

std::size_t DABDepuncture::puncturedLength(const DABEEPProfile& p) {
    return static_cast<std::size_t>(4 * (p.L1 * (8 + p.PI1) + p.L2 * (8 + p.PI2)) + kTailBits / 2);
}

bool DABDepuncture::expand(std::span<const float> punctured, const DABEEPProfile& profile,
                           std::span<float> out) {
    if (out.size() < depuncturedLength(profile)) return false;
    std::size_t src = 0, dst = 0;
    const int blocks = profile.L1 + profile.L2;
    for (int block = 0; block < blocks; ++block) {
        const std::uint32_t pattern = vector(block < profile.L1 ? profile.PI1 : profile.PI2);
        // A block applies its 32-bit vector four times; 8 + PI of each 32 are present.
        const auto kept = static_cast<std::size_t>(4 * std::popcount(pattern));
        if (src + kept > punctured.size()) {
            DebugLog::writef("M3c-2: underrun src=%zu block=%d", src, block);
            return false;
        }
        for (int rep = 0; rep < 4; ++rep) {
            for (int b = 31; b >= 0; --b) out[dst++] = ((pattern >> b) & 1U) ? punctured[src++] : 0.0f;
        }
    }
    // The tail takes what is left; a short tail only loses the last few flush bits.
    for (int b = kTailBits - 1; b >= 0; --b) {
        const bool present = ((DABFICDecoder::kTailVector >> b) & 1U) != 0;
        out[dst++] = present && src < punctured.size() ? punctured[src++] : 0.0f;
    }
    if (src != punctured.size()) {
        DebugLog::writef("M3c-2 WARN: coded used %zu of %zu", src, punctured.size());
    }
    return true;
}

std::optional<std::vector<float>> DABDepuncture::expandEEP_A(std::span<const float> punctured,
                                                             int protectionLevel, int sizeCU) {
    const std::optional<DABEEPProfile> profile = eepAProfile(protectionLevel, sizeCU);
    if (!profile) {
        DebugLog::writef("M3c-2 EEP-A pl=%d size=%d: no profile", protectionLevel, sizeCU);
        return std::nullopt;
    }
    std::vector<float> out(depuncturedLength(*profile));
    if (!expand(punctured, *profile, out)) return std::nullopt;
    return out;
}

std::optional<std::vector<float>> DABDepuncture::expandEEP(std::span<const float> punctured,
                                                           const DABSubchannel& subchannel) {
    const std::optional<DABEEPProfile> profile = eepProfile(subchannel);
    if (!profile) return std::nullopt;
    std::vector<float> out(depuncturedLength(*profile));
    if (!expand(punctured, *profile, out)) return std::nullopt;
    return out;
}
