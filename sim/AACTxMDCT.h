#pragma once

#include <memory>
#include <span>
#include <vector>

struct fftwf_plan_s;

// Windowed forward MDCT of AAC long blocks: 2M input samples (the previous and the current
// frame), sine window, M coefficients X[k] = 2 Σ z[n] cos(2π/2M (n + n0)(k + ½)), n0 = (M + 1)/2
// (ISO/IEC 14496-3 subclause 4.6.11 and its encoder counterpart). With the decoder's IMDCT and
// overlap-add this gives back the input exactly. Computed as a DCT-IV of the folded block.
// M is 960 or 1024 in practice, any even size works. One caller at a time.
class AACTxMDCT {
public:
    explicit AACTxMDCT(int coefficients);
    ~AACTxMDCT();
    AACTxMDCT(const AACTxMDCT&) = delete;
    AACTxMDCT& operator=(const AACTxMDCT&) = delete;

    // in holds 2M samples, out receives M coefficients.
    void transform(std::span<const float> in, std::span<float> out);
    int size() const { return m; }

private:
    struct PlanDestroyer {
        void operator()(fftwf_plan_s* plan) const noexcept;
    };
    int m;
    std::vector<float> window;  // 2M sine window values
    std::vector<float> folded;  // DCT-IV input
    std::vector<float> result;  // DCT-IV output
    std::unique_ptr<fftwf_plan_s, PlanDestroyer> plan;
};
