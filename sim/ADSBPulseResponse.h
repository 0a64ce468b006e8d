#pragma once

#include <complex>
#include <vector>

// One transponder pulse as the dongle delivers it: a trapezoid with finite rise and decay
// (ICAO Annex 10 Vol IV 3.1.2.2.5: duration 0.5 ± 0.05 µs at half amplitude, rise 0.05-0.1 µs,
// decay 0.05-0.2 µs, both 10 to 90 %), carried at an offset from the tuned centre and passed
// through the RTL2832's decimation low-pass. Because the filter acts on the carrier, the
// envelope it leaves is complex and depends on the offset; it is tabulated once per offset.
struct ADSBPulseEdges {
    double riseUs = 0.075;
    double decayUs = 0.1;
    double widthUs = 0.5;
    bool operator==(const ADSBPulseEdges&) const = default;
};

// The RTL2832's decimation low-pass, modelled as a Kaiser-windowed sinc: flat to
// cutoff - transition/2, 60 dB down from cutoff + transition/2. The chip scales its filter with
// the output rate, so both are stated per output sample: at 2.048 MS/s the cutoff is 0.9 MHz
// and the transition 0.4 MHz wide, and the top of the transition band aliases.
struct ADSBReceiveFilter {
    double cutoffCyclesPerSample = 0.44;  // half amplitude
    double transitionCyclesPerSample = 0.195;
    bool operator==(const ADSBReceiveFilter&) const = default;
};

// Immutable after construction; at() is safe from several threads.
class ADSBPulseResponse {
public:
    static constexpr double kStepUs = 0.005;  // table spacing; linear interpolation between

    ADSBPulseResponse(const ADSBPulseEdges& edges, const ADSBReceiveFilter& filter,
                      double sampleRateHz, double carrierOffsetHz);

    // Envelope tUs after the pulse's leading half-amplitude point, before the carrier factor
    // exp(j·2π·offset·t) that the caller applies with the reply's own clock. A pulse of unit
    // height far from the filter edges tends to 1 + 0j on its flat top.
    std::complex<float> at(double tUs) const {
        const double x = (tUs - tableStartUs) * (1.0 / kStepUs);
        if (x <= 0.0 || x >= static_cast<double>(table.size() - 1)) return {};
        const auto n = static_cast<std::size_t>(x);
        const auto f = static_cast<float>(x - static_cast<double>(n));
        return table[n] + (table[n + 1] - table[n]) * f;
    }
    // The envelope is zero outside [beginUs(), endUs()].
    double beginUs() const { return tableStartUs; }
    double endUs() const { return tableEndUs; }
    double carrierOffsetHz() const { return offsetHz; }

private:
    double offsetHz;
    double tableStartUs;
    double tableEndUs;
    std::vector<std::complex<float>> table;  // every kStepUs from tableStartUs
};
