#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "device/IQSample.h"

// A scratch directory per test for recordings and their sidecars, removed afterwards.
class RecordingFileTest : public testing::Test {
protected:
    using Bytes = std::vector<std::uint8_t>;

    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("vantirel-" + std::string(info->test_suite_name()) + "-" +
               std::to_string(getpid()) + "-" + info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path writeBytes(const std::string& name, const Bytes& bytes) {
        const std::filesystem::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    std::filesystem::path writeText(const std::string& name, const std::string& text) {
        return writeBytes(name, Bytes(text.begin(), text.end()));
    }
    // rtl_sdr's bytes: round(v * 127.5 + 127.5), clamped.
    std::filesystem::path writeCu8(const std::string& name, const std::vector<IQSample>& samples) {
        Bytes bytes;
        for (const IQSample& s : samples) {
            bytes.push_back(toByte(s.i));
            bytes.push_back(toByte(s.q));
        }
        return writeBytes(name, bytes);
    }
    // Little-endian 16-bit words, written byte by byte so the test means the same on any host.
    std::filesystem::path writeCs16(const std::string& name, const std::vector<std::int16_t>& words,
                                    const Bytes& trailing = {}) {
        Bytes bytes;
        for (const std::int16_t w : words) {
            const auto u = static_cast<std::uint16_t>(w);
            bytes.push_back(static_cast<std::uint8_t>(u & 0xff));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
        bytes.insert(bytes.end(), trailing.begin(), trailing.end());
        return writeBytes(name, bytes);
    }
    static std::uint8_t toByte(float v) {
        return static_cast<std::uint8_t>(std::clamp(std::round(v * 127.5 + 127.5), 0.0, 255.0));
    }

    std::filesystem::path dir;
};
