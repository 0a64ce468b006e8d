#include "PictureFile.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <unistd.h>

#include <fstream>

namespace {

class PictureFileTest : public testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() / ("vantirel-picture-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // A w × h RGB picture whose pixel (x, y) is (x, y, 200).
    static std::vector<std::uint8_t> ramp(int w, int h) {
        std::vector<std::uint8_t> rgb;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) rgb.insert(rgb.end(), {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 200});
        return rgb;
    }

    std::filesystem::path folder;
};

}  // namespace

TEST_F(PictureFileTest, ReadsAPNGLogoAsRGBATopRowFirst) {
    const auto path = folder / "logo.png";
    const std::vector<std::uint8_t> rgb = ramp(32, 24);
    ASSERT_NE(stbi_write_png(path.c_str(), 32, 24, 3, rgb.data(), 32 * 3), 0);
    const std::optional<RGBAPicture> picture = loadPictureFile(path);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 32);
    EXPECT_EQ(picture->height, 24);
    ASSERT_EQ(picture->rgba.size(), 32u * 24u * 4u);
    // Pixel (5, 7): red is x, green y, blue 200, opaque.
    const std::size_t at = (7 * 32 + 5) * 4;
    EXPECT_EQ(picture->rgba[at], 5);
    EXPECT_EQ(picture->rgba[at + 1], 7);
    EXPECT_EQ(picture->rgba[at + 2], 200);
    EXPECT_EQ(picture->rgba[at + 3], 255);
}

TEST_F(PictureFileTest, ReadsAJPEGSlide) {
    // Slideshow images are usually JPEG.
    const auto path = folder / "slide.jpg";
    const std::vector<std::uint8_t> rgb = ramp(64, 48);
    ASSERT_NE(stbi_write_jpg(path.c_str(), 64, 48, 3, rgb.data(), 90), 0);
    const std::optional<RGBAPicture> picture = loadPictureFile(path);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 64);
    EXPECT_EQ(picture->height, 48);
}

TEST_F(PictureFileTest, RefusesMissingTruncatedAndHugeFiles) {
    EXPECT_FALSE(loadPictureFile(folder / "absent.png"));

    const auto good = folder / "good.png";
    const std::vector<std::uint8_t> rgb = ramp(16, 16);
    ASSERT_NE(stbi_write_png(good.c_str(), 16, 16, 3, rgb.data(), 16 * 3), 0);
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto cut = folder / "cut.png";
    std::ofstream(cut, std::ios::binary) << bytes.substr(0, 20);
    EXPECT_FALSE(loadPictureFile(cut));
    std::ofstream(folder / "text.png") << "not a picture";
    EXPECT_FALSE(loadPictureFile(folder / "text.png"));

    const auto huge = folder / "huge.png";
    const std::vector<std::uint8_t> wide(static_cast<std::size_t>(kMaxPictureSide + 1) * 3, 90);
    ASSERT_NE(stbi_write_png(huge.c_str(), kMaxPictureSide + 1, 1, 3, wide.data(), 0), 0);
    EXPECT_FALSE(loadPictureFile(huge));
}
