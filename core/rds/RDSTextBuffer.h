#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

// A text sent in segments (PS, RadioText, PTYN): the received codes, which positions arrived,
// and whether the message is whole. 0x0D ends a message early. A segment that differs from
// what an earlier segment left at the same positions starts new content: the other positions
// are forgotten, so two texts never mix. Not thread-safe; no allocation except text().
class RDSTextBuffer {
public:
    static constexpr int kMaxLength = 64;
    static constexpr std::uint8_t kEndOfText = 0x0D;

    explicit RDSTextBuffer(int length);
    void clear();
    // Writes one segment's codes from `position` on.
    void writeSegment(int position, std::span<const std::uint8_t> segment);
    // Every position up to the end (0x0D or the full length) has arrived.
    bool isComplete() const;
    // Codes up to the end, without 0x0D; positions not yet received are spaces.
    std::span<const std::uint8_t> codes() const {
        return {visible.data(), static_cast<std::size_t>(visibleLength)};
    }
    // codes() as UTF-8 with leading and trailing spaces removed.
    std::string text() const;
    int length() const { return size; }

private:
    void updateVisible();

    int size;
    std::array<std::uint8_t, kMaxLength> received{};
    std::array<bool, kMaxLength> arrived{};
    std::array<std::uint8_t, kMaxLength> visible{};
    int visibleLength = 0;
};
