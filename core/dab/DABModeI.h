#pragma once

#include <cstdint>

// Transmission mode I at the receiver's fixed 2,048,000 samples/s.
namespace dabmode {
inline constexpr double kSampleRateHz = 2'048'000.0;
inline constexpr int kFFTSize = 2048;          // useful symbol part Tu
inline constexpr int kGuard = 504;             // cyclic prefix
inline constexpr int kSymbol = 2552;           // Ts
inline constexpr int kNull = 2656;
inline constexpr int kCarriers = 1536;         // -768..-1, 1..768
inline constexpr int kHalfCarriers = 768;
inline constexpr int kSymbolsPerFrame = 76;    // PRS, 3 FIC, 72 MSC
inline constexpr int kFrame = 196'608;         // null + 76 symbols
inline constexpr int kFICSymbols = 3;
inline constexpr int kBitsPerSymbol = 2 * kCarriers;  // 3072
}  // namespace dabmode
