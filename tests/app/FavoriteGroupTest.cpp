#include "FavoriteGroup.h"

#include <gtest/gtest.h>

#include "SidebarSection.h"

namespace {

RadioStation station(const char* name, double mhz, bool favourite) {
    return {.id = UUID::random(), .name = name, .frequencyMHz = mhz, .isFavorite = favourite};
}

std::vector<std::string> names(const FavoriteGroup& group) {
    std::vector<std::string> out;
    for (const RadioStation& s : group.stations) out.push_back(s.name);
    return out;
}

}  // namespace

TEST(FavoriteGroupTest, GroupsFavouritesByBandInBandOrder) {
    const std::vector<RadioStation> stations = {
        station("Tower", 118.3, true),  station("RIVA", 93.4, true),     station("KLASIK", 88.9, true),
        station("Plain", 95.7, false),  station("PMR 1", 446.00625, true), station("ISM", 433.92, true),
        station("Lost", 1'000.0, true),
    };
    const std::vector<FavoriteGroup> groups = favoriteGroups(stations, BandDefinition::allBands());
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(groups[0].band.name, "FM Broadcast");
    EXPECT_EQ(names(groups[0]), (std::vector<std::string>{"KLASIK", "RIVA"}));  // by frequency; not the plain one
    EXPECT_EQ(groups[1].band.name, "VHF Air");
    // The narrowest band wins where bands overlap: 433.92 MHz lies in UHF and 70cm Amateur.
    EXPECT_EQ(groups[2].band.name, "70cm Amateur");
    EXPECT_EQ(names(groups[2]), (std::vector<std::string>{"ISM"}));
    EXPECT_EQ(groups[3].band.name, "PMR446");
    // A favourite outside every band is listed, not dropped.
    EXPECT_EQ(groups[4].band.name, kOtherBandName);
    EXPECT_EQ(names(groups[4]), (std::vector<std::string>{"Lost"}));
}

TEST(FavoriteGroupTest, NoFavouritesGiveNoGroups) {
    EXPECT_TRUE(favoriteGroups({}, BandDefinition::allBands()).empty());
    const std::vector<RadioStation> plain = {station("A", 92.1, false)};
    EXPECT_TRUE(favoriteGroups(plain, BandDefinition::allBands()).empty());
}

TEST(FavoriteGroupTest, BandEdgesBelongToTheBand) {
    const auto& bands = BandDefinition::allBands();
    ASSERT_NE(bandContaining(87.5, bands), nullptr);
    EXPECT_EQ(bandContaining(87.5, bands)->name, "FM Broadcast");
    // 108.0 ends FM Broadcast and starts VHF Air; FM is the narrower.
    EXPECT_EQ(bandContaining(108.0, bands)->name, "FM Broadcast");
    EXPECT_EQ(bandContaining(108.001, bands)->name, "VHF Air");
    EXPECT_EQ(bandContaining(2'000.0, bands), nullptr);
}

TEST(FavoriteGroupTest, SnapsToTheBandRaster) {
    const auto& bands = BandDefinition::allBands();
    struct Case {
        double mhz, expected;
    };
    const Case cases[] = {
        {92.137, 92.1},       // FM: 100 kHz from 87.5
        {92.151, 92.2},
        {118.31, 118.3},      // airband: 25 kHz from 108
        {118.3126, 118.325},
        {1'000.04, 1'000.0},  // outside every band: 100 kHz
        {0.03, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mhz);
        EXPECT_NEAR(snapToChannelMHz(c.mhz, bands), c.expected, 1e-9);
    }
}

TEST(SidebarSectionTest, OnlyTheDisplayStringsNameASection) {
    for (SidebarSection s : kAllSidebarSections) {
        SCOPED_TRACE(std::string(displayName(s)));
        EXPECT_EQ(sidebarSectionFromString(displayName(s)), s);
    }
    EXPECT_EQ(displayName(SidebarSection::favorites), "Favorites");
    EXPECT_EQ(kAllSidebarSections.front(), SidebarSection::radio);
    EXPECT_EQ(kAllSidebarSections.back(), SidebarSection::recordings);
    for (const char* other : {"", "radio", "RADIO", "Favourites", "Radio ", "DAB"}) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(sidebarSectionFromString(other).has_value());
    }
}
