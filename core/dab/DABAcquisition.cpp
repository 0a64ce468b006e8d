#include "dab/DABAcquisition.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

#include "dab/DABEnsembleTables.h"
#include "dab/DABModeI.h"
#include "platform/DebugLog.h"

namespace {

using namespace std::chrono_literals;
using namespace dabmode;

// A source that delivers nothing for this long has stalled; collect what arrived.
constexpr auto kStall = 3s;
// Offsets tried around the PRS match when the FIC does not decode at once.
constexpr int kFICStartOffsets[] = {0, 1, -1, 2, -2, 4, -4, 8};
constexpr float kLockScore = 0.5f;
constexpr float kCoarseScore = 0.4f;
// The winner must beat every shift more than two bins away by this factor.
constexpr float kMarginFactor = 1.3f;
constexpr int kProbeShiftRange = 24;
constexpr int kCoarseShiftRange = 150;

bool isPlaceholderName(const std::string& name) { return name.rfind("SId ", 0) == 0; }
bool isPlaceholderLabel(const std::string& label) {
    return label.empty() || label == "Ensemble" || label.rfind("Ensemble ", 0) == 0;
}

}  // namespace

DABAcquirer::DABAcquirer(DABSampleFeed& f) : feed(f) {}

std::vector<IQSample> DABAcquirer::collect(std::size_t count) {
    std::vector<IQSample> out(count);
    std::size_t have = 0;
    auto lastArrival = std::chrono::steady_clock::now();
    while (have < count && !feed.stopRequested()) {
        const std::size_t n = feed.pop(std::span<IQSample>(out).subspan(have, std::min<std::size_t>(65'536, count - have)));
        if (n > 0) {
            have += n;
            lastArrival = std::chrono::steady_clock::now();
            continue;
        }
        if (std::chrono::steady_clock::now() - lastArrival > kStall) break;
        feed.waitForSamples();
    }
    out.resize(have);
    return out;
}

void DABAcquirer::correctFrequency(std::span<IQSample> samples, double offsetHz, double& phase) {
    if (std::abs(offsetHz) <= 0.5) return;
    const double step = -2.0 * std::numbers::pi * offsetHz / kSampleRateHz;
    // Exact phasor every block, a rotation recurrence in between: cheap and drift-free.
    constexpr std::size_t kReseed = 4'096;
    for (std::size_t base = 0; base < samples.size(); base += kReseed) {
        const double start = phase + step * static_cast<double>(base);
        double re = std::cos(start), im = std::sin(start);
        const double cr = std::cos(step), ci = std::sin(step);
        const std::size_t end = std::min(samples.size(), base + kReseed);
        for (std::size_t n = base; n < end; ++n) {
            const double i = samples[n].i, q = samples[n].q;
            samples[n] = {static_cast<float>(i * re - q * im), static_cast<float>(i * im + q * re)};
            const double nre = re * cr - im * ci;
            im = re * ci + im * cr;
            re = nre;
        }
    }
    phase = std::remainder(phase + step * static_cast<double>(samples.size()), 2.0 * std::numbers::pi);
}

DABPRSMatch DABAcquirer::searchPRS(std::span<const IQSample> samples, const std::vector<int>& starts,
                                   int minShift, int maxShift) const {
    DABPRSMatch best{.score = -1.0f};
    std::vector<float> bestScores;
    std::vector<float> scores(static_cast<std::size_t>(maxShift - minShift + 1));
    std::vector<float> re(kFFTSize), im(kFFTSize);
    for (const int s : starts) {
        if (s < 0 || static_cast<std::size_t>(s) + kSymbol > samples.size()) continue;
        if (!ofdm.fftSymbolInto(samples, s, re, im)) continue;
        for (int shift = minShift; shift <= maxShift; ++shift) {
            const float c = DABOFDM::correlatePhaseRef(re, im, shift).correlation;
            scores[static_cast<std::size_t>(shift - minShift)] = c;
            if (c > best.score) {
                best.score = c;
                best.symbolStart = s;
                best.binShift = shift;
            }
        }
        if (best.symbolStart == s) bestScores = scores;
    }
    best.score = std::max(best.score, 0.0f);
    for (int shift = minShift; shift <= maxShift && !bestScores.empty(); ++shift) {
        if (std::abs(shift - best.binShift) > 2)
            best.runnerUp = std::max(best.runnerUp, bestScores[static_cast<std::size_t>(shift - minShift)]);
    }
    return best;
}

DABPRSMatch DABAcquirer::locatePRS(std::span<const IQSample> samples, const std::vector<int>& starts,
                                   int shiftRange) const {
    DABPRSMatch match = searchPRS(samples, starts, -shiftRange, shiftRange);
    // Refine a winner of the coarse grid sample by sample.
    std::vector<int> fine;
    for (int d = -6; d <= 6; ++d) fine.push_back(match.symbolStart + d);
    const DABPRSMatch refined = searchPRS(samples, fine, match.binShift - 3, match.binShift + 3);
    if (refined.score > match.score) {
        match.symbolStart = refined.symbolStart;
        match.binShift = refined.binShift;
        match.score = refined.score;
    }
    return match;
}

void DABAcquirer::accumulate(DABEnsembleInfo& into, const DABEnsembleInfo& frame) {
    if (frame.ensembleId != 0) into.ensembleId = frame.ensembleId;
    if (!isPlaceholderLabel(frame.label) || into.label.empty()) into.label = frame.label;
    for (const DABService& s : frame.services) {
        auto it = std::find_if(into.services.begin(), into.services.end(),
                               [&](const DABService& e) { return e.id == s.id; });
        if (it == into.services.end()) {
            into.services.push_back(s);
        } else if (!isPlaceholderName(s.name) || isPlaceholderName(it->name)) {
            *it = s;
        }
    }
    std::stable_sort(into.services.begin(), into.services.end(),
                     [](const DABService& a, const DABService& b) { return a.id < b.id; });
    for (const auto& [id, sub] : frame.subchannels) into.subchannels[id] = sub;
    for (const auto& [sid, link] : frame.serviceLinks) into.serviceLinks[sid] = link;
}

std::optional<DABEnsembleInfo> DABAcquirer::decodeAround(std::span<const IQSample> samples, int start,
                                                         int binShift) {
    for (const int d : kFICStartOffsets) {
        const int s = start + d;
        if (s < 0 || static_cast<std::size_t>(s) + 4 * kSymbol > samples.size()) continue;
        if (std::optional<DABEnsembleInfo> e = fic.decode(samples, s, binShift, 0.0)) {
            // Gather what the following frames of the block add (labels come round slowly).
            DABEnsembleInfo merged = *e;
            for (std::size_t next = static_cast<std::size_t>(s) + kFrame;
                 next + 4 * kSymbol <= samples.size(); next += kFrame) {
                int at = static_cast<int>(next);
                if (auto lock = sync.estimateFrequencyOffset(samples, at, 32)) at = lock->symbolStart;
                if (std::optional<DABEnsembleInfo> more = fic.decode(samples, at, binShift, 0.0))
                    accumulate(merged, *more);
            }
            // Report the CRC figure of the first frame, which the match itself decoded.
            fic.decode(samples, s, binShift, 0.0);
            return merged;
        }
    }
    return std::nullopt;
}

bool DABAcquirer::isPlayable(const DABEnsembleInfo& ensemble, const DABSubchannel& subchannel) {
    if (subchannel.isShort) return false;  // UEP carries classic DAB audio, not DAB+
    return std::any_of(ensemble.serviceLinks.begin(), ensemble.serviceLinks.end(), [&](const auto& entry) {
        const DABServiceLink& link = entry.second;
        return link.primarySubchannelId == subchannel.id && link.audioComponentType == kDABPlusAudioType;
    });
}

std::optional<DABSubchannel> DABAcquirer::chooseSubchannel(const DABEnsembleInfo& ensemble,
                                                           std::optional<std::uint32_t> selected,
                                                           std::set<int>& excluded) {
    if (ensemble.subchannels.empty()) return std::nullopt;
    if (selected) {
        const auto link = ensemble.serviceLinks.find(*selected);
        if (link != ensemble.serviceLinks.end() && link->second.primarySubchannelId) {
            const auto sub = ensemble.subchannels.find(*link->second.primarySubchannelId);
            if (sub != ensemble.subchannels.end()) return sub->second;
        }
    }
    // DAB+ audio first: a data or classic-audio sub-channel would only sit silent.
    for (const auto& [id, sub] : ensemble.subchannels)  // the map is ordered by id
        if (!excluded.contains(id) && isPlayable(ensemble, sub)) return sub;
    for (const auto& [id, sub] : ensemble.subchannels)
        if (!excluded.contains(id)) return sub;
    excluded.clear();
    for (const auto& [id, sub] : ensemble.subchannels)
        if (isPlayable(ensemble, sub)) return sub;
    return ensemble.subchannels.begin()->second;
}

DABAcquirer::Outcome DABAcquirer::finish(std::vector<IQSample> samples, const DABPRSMatch& match,
                                         double offsetHz, double ncoPhase, const Inputs& in,
                                         const char* prefix) {
    Outcome out;
    out.excludedSubchannels = in.excludedSubchannels;
    const std::string p = prefix;
    if (match.score < kLockScore || match.score < kMarginFactor * match.runnerUp) {
        out.status = formatString("DAB: %sPRS preslab (%.2f)", p.c_str(), match.score);
        return out;
    }
    const std::optional<DABEnsembleInfo> ensemble = decodeAround(samples, match.symbolStart, match.binShift);
    if (!ensemble) {
        out.status = formatString("DAB: %snema ensemble-a (PRS %.2f)", p.c_str(), match.score);
        return out;
    }
    const std::optional<DABSubchannel> sub =
        chooseSubchannel(*ensemble, in.selectedServiceId, out.excludedSubchannels);
    if (!sub) {
        out.status = "DAB: " + p + "nema upotrebljivog subkanala";
        return out;
    }
    DABAcquisitionResult r;
    r.frameStart = match.symbolStart;
    r.binShift = match.binShift;
    r.fineOffsetHz = offsetHz;
    r.ncoPhase = ncoPhase;
    r.subchannel = *sub;
    r.ensemble = *ensemble;
    r.prsScore = match.score;
    r.ficCRCCount = dabtables::parseFICCRCCount(fic.lastStatus());
    r.samples = std::move(samples);
    out.status = (p.empty() ? std::string("DAB streaming") : std::string("DAB streaming (via probe)")) +
                 " | sub=" + std::to_string(sub->id) + " | PRS " + formatString("%.2f", match.score);
    r.status = out.status;
    out.result = std::move(r);
    return out;
}

namespace {

// Starts to try for the PRS: a fine grid around the cyclic-prefix estimate (the coherent
// score falls to a third two samples off) and a coarse one around the null's end.
std::vector<int> prsStarts(int nullEnd, std::optional<int> cpStart) {
    std::vector<int> starts;
    if (cpStart)
        for (int d = -12; d <= 12; ++d) starts.push_back(*cpStart + d);
    for (int d = -96; d <= 96; d += 4) starts.push_back(nullEnd + d);
    return starts;
}

// The null search looks at all but the last frame, so a null found leaves a frame after it.
std::span<const IQSample> nullSearchSpan(const std::vector<IQSample>& samples) {
    const std::size_t n = samples.size();
    return n > 2 * static_cast<std::size_t>(kFrame) ? std::span<const IQSample>(samples).first(n - kFrame)
                                                     : std::span<const IQSample>(samples);
}

}  // namespace

DABAcquirer::Outcome DABAcquirer::probe(const Inputs& in) {
    Outcome out;
    out.excludedSubchannels = in.excludedSubchannels;
    std::vector<IQSample> samples = collect(kProbeSamples);
    if (samples.size() <= kMinSamples) {
        out.status = "DAB: probe — malo IQ podataka";
        return out;
    }
    const std::optional<DABLockInfo> lock = sync.findNull(nullSearchSpan(samples));
    if (!lock || !lock->locked) {
        out.status = "DAB: probe — nema NULL locka";
        return out;
    }
    const int nullEnd = lock->nullIndex + kNull;
    const auto cp = sync.estimateFrequencyOffset(samples, nullEnd, 80);
    const double offsetHz = cp ? cp->offsetHz : in.lastFreqOffsetHz;
    double phase = 0.0;
    correctFrequency(samples, offsetHz, phase);
    const DABPRSMatch match =
        locatePRS(samples, prsStarts(nullEnd, cp ? std::optional(cp->symbolStart) : std::nullopt), kProbeShiftRange);
    DebugLog::writef("📡 DAB probe: null %d depth %.1f dB, offset %.1f Hz, PRS %.2f (next %.2f) shift %d at %d",
                     lock->nullIndex, lock->nullDepthDB, offsetHz, match.score, match.runnerUp,
                     match.binShift, match.symbolStart);
    return finish(std::move(samples), match, offsetHz, phase, in, "probe — ");
}

DABAcquirer::Outcome DABAcquirer::full(const Inputs& in) {
    Outcome out;
    out.excludedSubchannels = in.excludedSubchannels;
    std::vector<IQSample> samples = collect(kFullSamples);
    if (samples.size() <= kMinSamples) {
        out.status = "DAB: malo IQ podataka (" + std::to_string(samples.size()) + ")";
        return out;
    }
    std::optional<DABLockInfo> lock = sync.findNull(nullSearchSpan(samples));
    if (!lock || !lock->locked) {
        out.status = "DAB: nema NULL locka";
        return out;
    }
    int nullEnd = lock->nullIndex + kNull;
    auto cp = sync.estimateFrequencyOffset(samples, nullEnd, 80);
    double offsetHz = cp ? cp->offsetHz : in.lastFreqOffsetHz;
    double phase = 0.0;
    correctFrequency(samples, offsetHz, phase);

    std::optional<double> retunedMHz;
    // Coarse carrier search at the cyclic-prefix timing, wide enough for a cheap dongle's
    // crystal error; a shift beyond the probe's range is brought in by retuning.
    const DABPRSMatch coarse = searchPRS(samples, {cp ? cp->symbolStart : nullEnd}, -kCoarseShiftRange,
                                         kCoarseShiftRange);
    if (coarse.score >= kCoarseScore && coarse.score >= kMarginFactor * coarse.runnerUp &&
        std::abs(coarse.binShift) > kProbeShiftRange) {
        // A shift of +n bins: the ensemble sits n kHz above the tuner.
        const double newMHz = in.frequencyMHz + coarse.binShift * 0.001;
        if (onProgress)
            onProgress(formatString("DAB: grubo poravnanje, retuniram %.3f MHz (bin=%d, PRS %.2f)", newMHz,
                                    coarse.binShift, coarse.score));
        feed.retune(newMHz);
        retunedMHz = newMHz;
        samples = collect(kProbeSamples);
        if (samples.size() <= kMinSamples) {
            out.status = "DAB: malo IQ podataka nakon retuniranja (" + std::to_string(samples.size()) + ")";
            return out;
        }
        lock = sync.findNull(nullSearchSpan(samples));
        if (!lock || !lock->locked) {
            out.status = "DAB: lock izgubljen nakon grubog retuniranja";
            return out;
        }
        nullEnd = lock->nullIndex + kNull;
        cp = sync.estimateFrequencyOffset(samples, nullEnd, 80);
        offsetHz = cp ? cp->offsetHz : offsetHz;
        phase = 0.0;
        correctFrequency(samples, offsetHz, phase);
    }
    const DABPRSMatch match =
        locatePRS(samples, prsStarts(nullEnd, cp ? std::optional(cp->symbolStart) : std::nullopt), kProbeShiftRange);
    DebugLog::writef("📡 DAB acquisition: coarse shift %d (PRS %.2f), offset %.1f Hz, PRS %.2f shift %d at %d",
                     coarse.binShift, coarse.score, offsetHz, match.score, match.binShift, match.symbolStart);
    out = finish(std::move(samples), match, offsetHz, phase, in, "");
    if (out.result) out.result->retunedMHz = retunedMHz;
    return out;
}
