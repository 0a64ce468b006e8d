#include "MapMath.h"

#include <gtest/gtest.h>

#include <cmath>

#include "AircraftMapView.h"

TEST(MapMathTest, ProjectsKnownPointsToTheirTiles) {
    struct Case {
        GeoPoint point;
        int zoom;
        TileKey tile;
    };
    // Slippy-map tile names (OpenStreetMap wiki): lon/lat to x/y at zoom z.
    const Case cases[] = {
        {{0.0, 0.0}, 1, {1, 1, 1}},
        {{51.5074, -0.1278}, 10, {10, 511, 340}},   // London
        {{45.8150, 15.9819}, 12, {12, 2229, 1460}},  // Zagreb
        {{-33.8688, 151.2093}, 8, {8, 235, 153}},    // Sydney
        {{85.0, -180.0}, 3, {3, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.latitudeDeg << ", " << c.point.longitudeDeg);
        const WorldPoint w = projectToWorld(c.point, c.zoom);
        EXPECT_EQ(static_cast<int>(std::floor(w.x / kTileSizePixels)), c.tile.x);
        EXPECT_EQ(static_cast<int>(std::floor(w.y / kTileSizePixels)), c.tile.y);
        const GeoPoint back = unprojectFromWorld(w, c.zoom);
        EXPECT_NEAR(back.latitudeDeg, c.point.latitudeDeg, 1e-9);
        EXPECT_NEAR(back.longitudeDeg, c.point.longitudeDeg, 1e-9);
    }
    // The Mercator square ends at ±85.0511°.
    EXPECT_NEAR(projectToWorld({89.0, 0.0}, 0).y, 0.0, 1e-6);
    EXPECT_NEAR(projectToWorld({-89.0, 0.0}, 0).y, 256.0, 1e-6);
}

TEST(MapMathTest, TileColumnsWrapAndZoomRounds) {
    EXPECT_EQ(wrapTileX(-1, 3), 7);
    EXPECT_EQ(wrapTileX(8, 3), 0);
    EXPECT_EQ(wrapTileX(-9, 3), 7);
    EXPECT_EQ(wrapTileX(5, 0), 0);
    EXPECT_EQ(tileZoomFor(7.49), 7);
    EXPECT_EQ(tileZoomFor(7.5), 8);
    EXPECT_EQ(tileZoomFor(-3.0), kMinTileZoom);
    EXPECT_EQ(tileZoomFor(25.0), kMaxTileZoom);
}

TEST(MapMathTest, ScreenAndGeoRoundTripAtAnyBearing) {
    for (double bearing : {0.0, 37.0, 90.0, 180.0, 271.5}) {
        SCOPED_TRACE(bearing);
        const MapCamera camera{.center = {45.8, 16.0}, .zoom = 9.3, .rotationDeg = bearing};
        for (const ScreenOffset o : {ScreenOffset{0, 0}, ScreenOffset{120, -40}, ScreenOffset{-300, 210}}) {
            const ScreenOffset back = screenFromGeo(camera, geoFromScreen(camera, o));
            EXPECT_NEAR(back.dx, o.dx, 1e-6);
            EXPECT_NEAR(back.dy, o.dy, 1e-6);
        }
    }
    // North is up at bearing 0 and to the right at 90 (the picture turned counter-clockwise).
    const GeoPoint north{46.0, 16.0};
    const ScreenOffset up = screenFromGeo({.center = {45.8, 16.0}, .zoom = 9, .rotationDeg = 0}, north);
    EXPECT_NEAR(up.dx, 0.0, 1e-6);
    EXPECT_LT(up.dy, 0.0);
    const ScreenOffset turned = screenFromGeo({.center = {45.8, 16.0}, .zoom = 9, .rotationDeg = 90}, north);
    EXPECT_GT(turned.dx, 0.0);
    EXPECT_NEAR(turned.dy, 0.0, 1e-6);
}

TEST(MapMathTest, ScreenOffsetsTakeTheShortWayAcrossTheAntimeridian) {
    const MapCamera camera{.center = {0.0, 179.9}, .zoom = 6};
    const ScreenOffset east = screenFromGeo(camera, {0.0, -179.9});
    EXPECT_GT(east.dx, 0.0);
    EXPECT_LT(east.dx, 100.0);
}

TEST(MapMathTest, PanAndZoomKeepThePointUnderThePointer) {
    const MapCamera camera{.center = {45.8, 16.0}, .zoom = 8.0, .rotationDeg = 30.0};
    const ScreenOffset anchor{150.0, -80.0};
    const GeoPoint under = geoFromScreen(camera, anchor);
    const MapCamera zoomed = zoomedAround(camera, anchor, 9.5);
    EXPECT_DOUBLE_EQ(zoomed.zoom, 9.5);
    const ScreenOffset still = screenFromGeo(zoomed, under);
    EXPECT_NEAR(still.dx, anchor.dx, 1e-6);
    EXPECT_NEAR(still.dy, anchor.dy, 1e-6);
    EXPECT_DOUBLE_EQ(zoomedAround(camera, anchor, 40.0).zoom, kMaxTileZoom);

    // Dragging the picture by (d) moves what was at the centre to (d).
    const MapCamera panned = pannedBy(camera, {.dx = 40.0, .dy = 25.0});
    const ScreenOffset moved = screenFromGeo(panned, camera.center);
    EXPECT_NEAR(moved.dx, 40.0, 1e-6);
    EXPECT_NEAR(moved.dy, 25.0, 1e-6);
    EXPECT_DOUBLE_EQ(normalisedBearing(-30.0), 330.0);
    EXPECT_DOUBLE_EQ(normalisedBearing(725.0), 5.0);
}

TEST(MapMathTest, ScaleBarUsesRoundLengths) {
    // At the equator, zoom 0: 156,543 m per pixel.
    EXPECT_NEAR(metresPerPixel(0.0, 0.0), 156'543.03, 0.01);
    EXPECT_NEAR(metresPerPixel(60.0, 1.0), 156'543.03 / 4.0, 0.01);
    struct Case {
        double metresPerPixel;
        double metres;
        const char* label;
    };
    const Case cases[] = {{10.0, 1'000.0, "1 km"}, {3.0, 200.0, "200 m"}, {400.0, 50'000.0, "50 km"}, {0.2, 20.0, "20 m"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const ScaleBar bar = scaleBarFor(c.metresPerPixel, 130.0);
        EXPECT_DOUBLE_EQ(bar.metres, c.metres);
        EXPECT_EQ(bar.label, c.label);
        EXPECT_LE(bar.pixels, 130.0);
        EXPECT_GT(bar.pixels, 130.0 / 5.0);  // a 1-2-5 step never wastes more than that
    }
    EXPECT_TRUE(scaleBarFor(0.0, 130.0).label.empty());
}

TEST(MapMathTest, GraticuleGivesAFewLines) {
    for (double span : {0.004, 0.3, 2.4, 17.0, 120.0, 360.0}) {
        SCOPED_TRACE(span);
        const double step = graticuleStepDeg(span);
        EXPECT_LE(span / step, 10.0);
        if (step < 45.0) {
            EXPECT_GE(span / step, 2.0);
        }
    }
}

TEST(MapMathTest, TileAddressesAndCacheFolders) {
    EXPECT_EQ(tileURL("https://tile.openstreetmap.org/{z}/{x}/{y}.png", {.z = 7, .x = 69, .y = 45}),
              "https://tile.openstreetmap.org/7/69/45.png");
    EXPECT_EQ(tileURL("http://127.0.0.1:8080/t?x={x}&y={y}&z={z}", {.z = 1, .x = 0, .y = 1}),
              "http://127.0.0.1:8080/t?x=0&y=1&z=1");
    EXPECT_EQ(tileURL("{q}/{z", {.z = 1}), "{q}/{z");
    EXPECT_EQ(tileCacheFolderName("https://tile.openstreetmap.org/{z}/{x}/{y}.png"), "tile.openstreetmap.org");
    EXPECT_EQ(tileCacheFolderName("http://127.0.0.1:8080/{z}/{x}/{y}.png"), "127.0.0.1_8080");
    EXPECT_EQ(tileCacheFolderName("http://user@Example.COM/{z}"), "example.com");
    // Nothing that could climb out of the cache folder.
    EXPECT_EQ(tileCacheFolderName("http://../{z}"), "default");
}

TEST(MapMathTest, FitsEveryPointIntoTheView) {
    const std::vector<GeoPoint> points = {{45.5, 15.5}, {46.1, 16.4}, {45.9, 15.9}};
    const std::optional<MapCamera> camera = cameraFitting(points, {.width = 800, .height = 600}, 0.7, 3.0, 12.0);
    ASSERT_TRUE(camera.has_value());
    for (const GeoPoint& p : points) {
        const ScreenOffset o = screenFromGeo(*camera, p);
        EXPECT_LE(std::abs(o.dx), 400.0 * 0.7 + 1e-6);
        EXPECT_LE(std::abs(o.dy), 300.0 * 0.7 + 1e-6);
    }
    EXPECT_DOUBLE_EQ(std::fmod(camera->zoom * 2.0, 1.0), 0.0);
    // One point: as close as allowed.
    const std::vector<GeoPoint> one = {{45.0, 15.0}};
    EXPECT_DOUBLE_EQ(cameraFitting(one, {800, 600}, 0.7, 3.0, 11.0)->zoom, 11.0);
    EXPECT_FALSE(cameraFitting({}, {800, 600}, 0.7, 3.0, 11.0).has_value());
}

TEST(AircraftMapViewTest, PlacesOnlyAircraftWithBothCoordinates) {
    std::vector<ADSBAircraft> aircraft(4);
    aircraft[0].icao = "4CA7B2";
    aircraft[0].latitude = 45.9;
    aircraft[0].longitude = 15.7;
    aircraft[1].icao = "3C6DD4";
    aircraft[1].latitude = 45.9;  // no longitude yet
    aircraft[2].icao = "501C4F";
    aircraft[2].longitude = 16.2;  // no latitude yet
    aircraft[3].icao = "A1B2C3";
    const std::vector<const ADSBAircraft*> placed = placeableAircraft(aircraft);
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0]->icao, "4CA7B2");

    aircraft[0].altitude = 37'000;
    EXPECT_EQ(altitudeLabel(aircraft[0]), "37000 ft");
    EXPECT_FALSE(altitudeLabel(aircraft[1]).has_value());
    EXPECT_EQ(aircraftName(aircraft[0]), "4CA7B2");
    aircraft[0].callsign = "RYR7QW";
    EXPECT_EQ(aircraftName(aircraft[0]), "RYR7QW");
}
