#include "sim/DABTxPADCarousel.h"

#include <cassert>

#include "sim/DABTxXPAD.h"

namespace {
struct Item {
    DABTxXPADApplication app;
    std::vector<std::uint8_t> dataGroup;
};

// AUs the packer needs to send `item` from idle.
std::size_t ausFor(const DABTxXPADPacker& packer, const Item& item) {
    DABTxXPADPacker trial = packer;
    trial.start(item.app, item.dataGroup);
    std::size_t n = 0;
    for (; !trial.isIdle(); ++n) trial.nextPAD();
    return n;
}

// The slide's data groups in header mode, continuity counting on across repetitions.
std::vector<std::vector<std::uint8_t>> slideGroups(const MOTTxObject& slide, std::size_t segmentBytes,
                                                   int& headerContinuity, int& bodyContinuity) {
    auto groups = motTxSegments(3, slide.transportId, motTxHeader(slide), 8191, headerContinuity);
    const auto body = motTxSegments(4, slide.transportId, slide.body, segmentBytes, bodyContinuity);
    groups.insert(groups.end(), body.begin(), body.end());
    return groups;
}
}  // namespace

std::size_t dabTxPADCycleWindows(const DABTxPADCarouselConfig& config) {
    return config.windows.size() % 2 == 0 ? config.windows.size() : 2 * config.windows.size();
}

std::vector<std::vector<std::uint8_t>> dabTxPADCarousel(const DABTxPADCarouselConfig& config,
                                                        int ausPerSuperframe) {
    assert(!config.windows.empty() && config.windowSuperframes > 0 && ausPerSuperframe > 0);
    const auto windowAUs = static_cast<std::size_t>(config.windowSuperframes * ausPerSuperframe);
    std::vector<std::vector<std::uint8_t>> pads;
    pads.reserve(windowAUs * dabTxPADCycleWindows(config));
    int headerContinuity = 0, bodyContinuity = 0;
    for (std::size_t w = 0; w < dabTxPADCycleWindows(config); ++w) {
        const DABTxPADWindow& window = config.windows[w % config.windows.size()];
        std::vector<Item> label;
        for (auto& g : dabTxDynamicLabelDataGroups(window.label, w % 2 == 1))
            label.push_back({DABTxXPADApplication::dynamicLabel, std::move(g)});
        std::vector<std::vector<std::uint8_t>> slide;
        std::size_t nextSlideGroup = 0;
        // Label first, then alternately one slide data group and the whole label again.
        std::vector<Item> queue = label;
        std::size_t nextItem = 0;
        bool sendLabelNext = false;
        DABTxXPADPacker packer(config.maxXPADBytes);
        bool windowFull = false;
        for (std::size_t a = 0; a < windowAUs; ++a) {
            if (packer.isIdle() && !windowFull) {
                if (nextItem == queue.size()) {
                    queue.clear();
                    nextItem = 0;
                    if (window.slide && !sendLabelNext) {
                        if (nextSlideGroup == slide.size()) {
                            slide = slideGroups(*window.slide, config.slideSegmentBytes, headerContinuity,
                                                bodyContinuity);
                            nextSlideGroup = 0;
                        }
                        queue.push_back({DABTxXPADApplication::mot, slide[nextSlideGroup++]});
                    } else {
                        queue = label;
                    }
                    sendLabelNext = !sendLabelNext;
                }
                if (ausFor(packer, queue[nextItem]) <= windowAUs - a) {
                    packer.start(queue[nextItem].app, queue[nextItem].dataGroup);
                    ++nextItem;
                } else {
                    windowFull = true;
                }
            }
            pads.push_back(packer.nextPAD());
        }
    }
    return pads;
}
