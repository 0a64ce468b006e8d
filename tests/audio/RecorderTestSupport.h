#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A fresh directory per test, removed afterwards.
class RecorderTestDir : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              (std::string("vantirel-") + info->test_suite_name() + "-" + info->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
    }
    static std::uint16_t u16At(const std::vector<std::uint8_t>& b, std::size_t at) {
        return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
    }
    static std::string tagAt(const std::vector<std::uint8_t>& b, std::size_t at) {
        return std::string(b.begin() + at, b.begin() + at + 4);
    }

    std::filesystem::path dir;
};
