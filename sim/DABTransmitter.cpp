#include "sim/DABTransmitter.h"

#include <cassert>

DABTransmitter::DABTransmitter(const DABTransmitterConfig& config)
    : description(config.ensemble),
      amplitude(static_cast<float>(config.amplitude)),
      ficEncoder(config.ensemble),
      mscEncoder(config.ensemble),
      frameBits(DABTxOFDMModulator::kFrameBits, 0) {}

int DABTransmitter::cifCountOf(std::int64_t frameIndex) {
    const std::int64_t count = (kCIFsPerFrame * frameIndex) % kDABTxCIFCountModulo;
    return static_cast<int>(count < 0 ? count + kDABTxCIFCountModulo : count);
}

void DABTransmitter::renderFrame(std::int64_t frameIndex, std::span<std::complex<float>> out) {
    assert(out.size() >= static_cast<std::size_t>(kFrameSamples));
    const std::span<std::uint8_t> bits(frameBits);
    ficEncoder.encodeFrame(cifCountOf(frameIndex), bits.first(DABTxFICEncoder::kFrameBits));
    // The FIC's 9216 bits fill exactly symbols 2-4; each CIF then fills 18 symbols.
    for (int c = 0; c < kCIFsPerFrame; ++c)
        mscEncoder.encodeCIF(bits.subspan(DABTxFICEncoder::kFrameBits + static_cast<std::size_t>(c) * DABTxMSCEncoder::kCIFBits,
                                          DABTxMSCEncoder::kCIFBits));
    modulator.modulate(frameBits, out, amplitude);
}
