#include "sim/RFScene.h"

#include <algorithm>
#include <cmath>

RFScene::RFScene(RFSceneConfig config)
    : noiseFloor(config.noiseFloorRms), crystal(config.crystalPPM) {}

void RFScene::addEmitter(std::shared_ptr<RFEmitter> emitter) {
    if (!emitter) return;
    std::lock_guard lock(mutex);
    emitterList.push_back(std::move(emitter));
}

void RFScene::removeEmitter(const std::shared_ptr<RFEmitter>& emitter) {
    std::lock_guard lock(mutex);
    std::erase(emitterList, emitter);
}

std::vector<std::shared_ptr<RFEmitter>> RFScene::emitters() const {
    std::lock_guard lock(mutex);
    return emitterList;
}

double RFScene::basebandOffsetHz(double carrierHz, double tunedCenterHz,
                                 double correctionPPM) const {
    const double residualPPM = crystalPPM() - correctionPPM;
    return carrierHz * (1.0 - residualPPM * 1e-6) - tunedCenterHz;
}

void RFScene::render(std::span<IQSample> out, double tunedCenterHz, double correctionPPM,
                     std::uint64_t sampleIndex, double sampleRateHz) {
    std::fill(out.begin(), out.end(), IQSample{});
    const double residualPPM = crystalPPM() - correctionPPM;
    std::lock_guard lock(mutex);
    for (const auto& emitter : emitterList) {
        const double offsetHz = basebandOffsetHz(emitter->carrierHz(), tunedCenterHz, correctionPPM);
        if (std::abs(offsetHz) > 0.5 * (sampleRateHz + emitter->occupiedBandwidthHz())) continue;
        emitter->render(out, {.sampleRateHz = sampleRateHz, .offsetHz = offsetHz,
                              .sampleIndex = sampleIndex, .clockErrorPPM = residualPPM});
    }
}
