#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// What an RDS transmitter sends for one simulated FM station.
struct RDSEncoderConfig {
    std::uint16_t pi = 0;
    int pty = 0;  // 0..31
    bool tp = false;
    bool ta = false;
    bool music = true;      // M/S flag of group 0A
    bool stereo = true;     // decoder-identification bit d0 of group 0A
    std::string ps;         // up to 8 characters (longer is cut, shorter padded with spaces)
    std::string radioText;  // up to 64 characters; empty: no 2A groups are sent
    // Peak of the RDS subcarrier relative to a full-scale multiplex (1.0 = 75 kHz deviation);
    // 0.04 is +-3 kHz, a usual injection level.
    float amplitude = 0.04f;
    double carrierPhaseRad = 0.0;   // against 3 x pilot phase; IEC 62106 allows 0 or +-pi/2
    double initialBitOffset = 0.0;  // where the bit clock starts within the first bit, [0, 1)
};

// Pilot timing of a multiplex block: the 19 kHz pilot is cos(phaseRad + n * radPerSample) at
// sample n of the block.
struct RDSPilotClock {
    double phaseRad = 0.0;
    double radPerSample = 0.0;
};

// RDS signal generator for the simulated FM stations (IEC 62106 / EN 50067).
//
// Sends groups 0A (PS, TP, TA, PTY, M/S, DI) and 2A (RadioText with its A/B flag) in turn,
// each block with its checkword and offset word, differentially encodes the bits, shapes each
// bit as a biphase symbol (the transmitter half of the cos-shaped data spectrum) and
// modulates a 57 kHz DSB-SC carrier locked to three times the pilot. The bit clock is locked
// to the pilot as well (1187.5 bit/s = 19 kHz / 16), so it follows whatever rate and clock
// error the multiplex is generated with.
//
// render() ADDS the RDS signal to a multiplex at any rate, in full-scale units; blocks must be
// passed in order without gaps. One caller at a time; the setters apply at the next group.
class RDSEncoder {
public:
    enum class Offset { a, b, c, cPrime, d };

    explicit RDSEncoder(RDSEncoderConfig config);
    RDSEncoder(const RDSEncoder&) = delete;
    RDSEncoder& operator=(const RDSEncoder&) = delete;

    void render(std::span<float> mpx, RDSPilotClock pilot);

    // A different text flips the A/B flag and starts from segment 0 (EN 50067, type 2 groups).
    void setRadioText(const std::string& text);
    void setTA(bool ta);

    // The data-bit stream before differential coding, as a receiver hands it to its group
    // decoder. render() draws from the same stream, so use one or the other.
    int nextDataBit();

    // A 26-bit block, information word first (bit 25 = first transmitted bit).
    static std::uint32_t encodeBlock(std::uint16_t info, Offset offset);

private:
    void buildNextGroup();
    void pushBit();
    float baseband(double bitFraction) const;

    RDSEncoderConfig config;
    std::array<char, 8> psChars{};
    std::array<char, 64> rtChars{};
    int rtSegments = 0;  // segments to send; 0 when there is no text
    int abFlag = 0;
    int psSegment = 0;
    int rtSegment = 0;
    bool nextIsText = false;

    std::array<std::uint32_t, 4> groupBlocks{};
    int groupBitIndex = 104;  // next bit of groupBlocks to send; 104 = group used up

    // Modulation. Bits overlap their neighbours by two bits either side after shaping.
    std::vector<float> symbolShape;   // one biphase symbol, sampled from -2 to +3 bits
    std::array<float, 8> polarity{};  // +-1 of recent and upcoming bits, by bit index mod 8
    std::int64_t bitIndex = 0;        // bit being sent
    double bitFraction = 0.0;         // position inside it, [0, 1)
    std::int64_t nextCodedIndex = 0;  // first bit not yet coded
    int lastCodedBit = 0;             // differential coder state
};
