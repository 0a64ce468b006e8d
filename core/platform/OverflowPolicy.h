#pragma once

// What a bounded queue between two threads does when the producer offers more than fits.
enum class OverflowPolicy {
    // The producer never waits; the oldest unread data is overwritten. For a live dongle,
    // which cannot be paused: its samples come whether or not anyone keeps up.
    dropOldest,
    // The producer waits until the consumer makes room, so nothing is lost. For a recording,
    // which can simply be read more slowly.
    waitForReader,
};
