// DAB from the window: xdotool scans Band III from the Radio panel, picks the ensemble and its
// services and goes back to FM on the simulated dongle. After each step the state file must
// show the controller there, and a screenshot (kept under <build>/tests/app/window-artefacts)
// must show the step's views drawn.
#include <gtest/gtest.h>

#include <numbers>

#include "WindowTestSupport.h"

using namespace windowtest;

namespace {

constexpr RGB kAccent{61, 165, 255};
constexpr RGB kGood{60, 203, 127};

const nlohmann::json& controller(const nlohmann::json& j) { return j["controller"]; }

bool streamingOn(const nlohmann::json& j, double mhz) {
    const nlohmann::json& c = controller(j);
    return c["dabStreamRunning"] == true && std::abs(c["frequencyMHz"].get<double>() - mhz) < 1e-6 &&
           j["view"]["centreView"] == "dab";
}

// Where the points' phases fall: the share within 30° of each of the four QPSK phases
// (45°, 135°, −135°, −45°) and the share near none of them.
struct PhaseCensus {
    std::array<double, 4> near{};
    double astray = 0.0;
};

PhaseCensus phaseCensus(const nlohmann::json& points) {
    PhaseCensus census;
    if (points.empty()) return census;
    for (const nlohmann::json& p : points) {
        const double deg = std::atan2(p[1].get<double>(), p[0].get<double>()) * 180.0 / std::numbers::pi;
        bool placed = false;
        for (int k = 0; k < 4; ++k) {
            const double centre = 45.0 + 90.0 * k;
            const double d = std::remainder(deg - centre, 360.0);
            if (std::abs(d) <= 30.0) {
                census.near[static_cast<std::size_t>(k)] += 1.0;
                placed = true;
            }
        }
        if (!placed) census.astray += 1.0;
    }
    for (double& n : census.near) n /= static_cast<double>(points.size());
    census.astray /= static_cast<double>(points.size());
    return census;
}

int pixels(const Image& image, const nlohmann::json& state, const std::string& control,
           const std::function<bool(RGB)>& test) {
    const std::optional<Rect> r = controlRect(state, control);
    return r ? image.count(*r, test) : -1;
}

// A screenshot and the state beside it, retaken until `looksRight` holds: the screen grab can
// trail the window's newest frame by a few frames.
struct Look {
    Image image;
    nlohmann::json state;
};

Look lookWhen(const Session& session, const std::filesystem::path& png,
              const std::function<bool(const Image&, const nlohmann::json&)>& looksRight) {
    std::optional<Look> look;
    eventually([&] {
        const nlohmann::json state = session.current();
        if (!session.screenshot(png)) return false;
        look.emplace(Look{Image(png), state});
        return look->image.loaded() && looksRight(look->image, look->state);
    });
    return look ? std::move(*look) : Look{Image(png), session.current()};
}

}  // namespace

TEST(WindowDABE2ETest, ScansPicksEnsembleAndServicesAndReturnsToFM) {
    const auto documents = scratchFolder("dab");
    const auto statePath = documents / "state.json";
    const auto shot = [&](const std::string& name) { return artefactFolder() / ("dab-" + name + ".png"); };
    VirtualScreen screen;
    ASSERT_TRUE(screen.ready()) << "Xvfb did not start";
    ChildProcess window({vantirelBinary().string(), "--source", "sim", "--no-audio", "--section", "dab", "--documents",
                         documents.string(), "--tile-url", "none", "--state-file", statePath.string()},
                        {"DISPLAY=" + screen.name(), "XDG_CACHE_HOME=" + (documents / "cache").string()});
    ASSERT_TRUE(window.started());
    Session session(screen, statePath);
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return controller(j)["isRunning"] == true && j["controls"].contains("dabEmptyHint");
    }));
    ASSERT_TRUE(session.findWindow());

    // 1. The Radio panel opens on its DAB part, with nothing scanned yet.
    {
        const auto hint = [](RGB c) { return c.r > 110 && c.b > 110; };
        const auto button = [](RGB c) { return near(c, kAccent, 30); };
        const Look look = lookWhen(session, shot("1-radio-panel"), [&](const Image& image, const nlohmann::json& j) {
            return pixels(image, j, "dabEmptyHint", hint) > 30 && pixels(image, j, "dabScanButton", button) > 1000;
        });
        const nlohmann::json& j = look.state;
        EXPECT_EQ(j["view"]["sidebarSection"], "Radio");
        EXPECT_TRUE(controller(j)["dabResults"].empty());
        EXPECT_GT(pixels(look.image, j, "dabEmptyHint", hint), 30) << "hint not drawn";
        EXPECT_GT(pixels(look.image, j, "dabScanButton", button), 1000);
    }

    // 2. Scan Band III: all 38 channels, the two simulated ensembles with signal, back on FM.
    ASSERT_TRUE(session.click("dabScanButton"));
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) { return controller(j)["dabScanning"] == true; }));
    ASSERT_TRUE(session.waitFor(
        [](const nlohmann::json& j) {
            return controller(j)["dabScanning"] == false && controller(j)["dabResults"].size() == 38;
        },
        std::chrono::seconds(90)))
        << controller(session.current())["dabStatus"];
    std::set<std::string> withSignal;
    const nlohmann::json scanned = session.current();
    for (const nlohmann::json& r : controller(scanned)["dabResults"])
        if (r["hasSignal"] == true) withSignal.insert(r["label"].get<std::string>());
    EXPECT_EQ(withSignal, (std::set<std::string>{"5C", "12C"}));
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["view"]["centreView"] == "analog" && std::abs(controller(j)["frequencyMHz"].get<double>() - 92.1) < 1e-6 &&
               j["controls"].contains("dabChannel 12C") && !j["controls"].contains("dabChannel 5A");
    }));
    // "Show all" lists every channel, "Show fewer" only those with signal again.
    ASSERT_TRUE(session.click("dabShowAll"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["view"]["showAllDABChannels"] == true && j["controls"].contains("dabChannel 5A") &&
               j["controls"].contains("dabChannel 13F");
    }));
    ASSERT_TRUE(session.click("dabShowAll"));
    ASSERT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["view"]["showAllDABChannels"] == false && !j["controls"].contains("dabChannel 5A");
    }));
    {
        // The level dot of a channel with signal is lit green.
        const auto dot = [](RGB c) { return near(c, kGood, 40); };
        const Look look = lookWhen(session, shot("2-scanned"), [&](const Image& image, const nlohmann::json& j) {
            return pixels(image, j, "dabChannel 12C", isText) > 60 && pixels(image, j, "dabChannel 12C", dot) > 20;
        });
        EXPECT_GT(pixels(look.image, look.state, "dabChannel 12C", isText), 60) << "channel row not drawn";
        EXPECT_GT(pixels(look.image, look.state, "dabChannel 12C", dot), 20);
    }

    // 3. Pick the ensemble on 12C: the DAB view takes the centre, the first DAB+ service plays
    // and the constellation forms four clusters.
    ASSERT_TRUE(session.click("dabChannel 12C"));
    ASSERT_TRUE(session.waitFor(
        [](const nlohmann::json& j) {
            const nlohmann::json& c = controller(j);
            return streamingOn(j, 227.36) && !c["dabEnsembleLabel"].get<std::string>().empty() &&
                   c["dabServices"].size() >= 4 && c["dabSuperframeCount"].get<int>() >= 3 &&
                   c["dabConstellation"]["size"] == 192;
        },
        std::chrono::seconds(40)))
        << controller(session.current()).dump().substr(0, 2000);
    {
        const nlohmann::json j = session.current();
        const nlohmann::json& c = controller(j);
        EXPECT_EQ(c["dabSelectedServiceId"], c["dabServices"][0]["serviceID"]);
        const PhaseCensus census = phaseCensus(c["dabConstellation"]["points"]);
        for (std::size_t k = 0; k < 4; ++k) {
            SCOPED_TRACE(k);
            // Random data spreads evenly over the four phases: about a quarter each.
            EXPECT_GT(census.near[k], 0.15);
        }
        EXPECT_LT(census.astray, 0.05) << "points between the clusters";
        EXPECT_LT(c["dabConstellation"]["spreadDeg"].get<double>(), 20.0);
    }
    {
        const auto point = [](RGB c) { return near(c, kAccent, 45); };
        const Look look = lookWhen(session, shot("3-ensemble"), [&](const Image& image, const nlohmann::json& j) {
            return pixels(image, j, "constellation", point) > 300 && pixels(image, j, "dabEnsembleLabel", isText) > 80;
        });
        const Image& image = look.image;
        const nlohmann::json& j = look.state;
        EXPECT_GT(pixels(image, j, "constellation", [](RGB c) { return near(c, kAccent, 45); }), 300) << "no points";
        EXPECT_GT(pixels(image, j, "dabEnsembleLabel", isText), 80) << "ensemble label not drawn";
        EXPECT_GT(pixels(image, j, "dabLock", [](RGB c) { return near(c, kGood, 40); }), 40) << "not LOCKED";
        EXPECT_GT(pixels(image, j, "spectrum", [](RGB c) { return near(c, kAccent, 35); }), 300) << "no spectrum";
        EXPECT_GT(pixels(image, j, "dabSignalPanel", isText), 200) << "DAB signal card not drawn";
        EXPECT_FALSE(j["controls"].contains("rdsPanel"));
    }

    // The first service carries the station logo's ensemble, a dynamic label and a slideshow:
    // the window holds the logo and shows the label and the newest slide.
    ASSERT_TRUE(session.waitFor(
        [](const nlohmann::json& j) {
            const nlohmann::json& c = controller(j);
            return j["view"]["dabLogosHeld"].get<int>() > 0 && c["dabDynamicLabel"].is_string() &&
                   !j["view"]["dabSlideshowShown"].is_null();
        },
        std::chrono::seconds(40)))
        << session.current()["view"].dump();

    // 4. Pick another service from the DAB view's list, then switch again from the Radio panel;
    // each plays (superframes keep coming) and the FIC/MSC figures open under their disclosure.
    const nlohmann::json services = controller(session.current())["dabServices"];
    const auto sidOf = [&](std::size_t k) { return services[k]["serviceID"].get<std::uint32_t>(); };
    const auto hex = [](std::uint32_t sid) {
        char text[16];
        std::snprintf(text, sizeof text, "%04X", sid);
        return std::string(text);
    };
    ASSERT_TRUE(session.click("dabViewService " + hex(sidOf(2))));
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) { return controller(j)["dabSelectedServiceId"] == sidOf(2); }));
    const int before = controller(session.current())["dabSuperframeCount"].get<int>();
    EXPECT_TRUE(session.waitFor(
        [&](const nlohmann::json& j) {
            return controller(j)["dabSelectedServiceId"] == sidOf(2) && controller(j)["dabSuperframeCount"].get<int>() > before + 3;
        },
        std::chrono::seconds(30)));
    ASSERT_TRUE(session.click("dabService " + hex(sidOf(1))));
    EXPECT_TRUE(session.waitFor([&](const nlohmann::json& j) { return controller(j)["dabSelectedServiceId"] == sidOf(1); }));
    ASSERT_TRUE(session.click("ficMscToggle"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        return j["view"]["showDABAdvanced"] == true && j["controls"].contains("ficMscPanel");
    }));
    ASSERT_TRUE(session.waitFor([&](const nlohmann::json& j) { return streamingOn(j, 227.36); }));
    {
        const Look look = lookWhen(session, shot("4-service-switched"), [&](const Image& image, const nlohmann::json& j) {
            return pixels(image, j, "ficMscPanel", isText) > 300;
        });
        const Image& image = look.image;
        const nlohmann::json& j = look.state;
        EXPECT_EQ(controller(j)["dabSelectedServiceId"], sidOf(1));
        EXPECT_GT(pixels(image, j, "ficMscPanel", isText), 300) << "FIC/MSC figures not drawn";
        // The playing service's row is lit in the accent colour in both lists.
        EXPECT_GT(pixels(image, j, "dabService " + hex(sidOf(1)), [](RGB c) { return near(c, kAccent, 40); }), 40);
        EXPECT_GT(pixels(image, j, "dabViewService " + hex(sidOf(1)), [](RGB c) { return near(c, kAccent, 40); }), 40);
    }

    // 5. Back to FM: the stream stops, the analog view and the RDS card return on 92.1 MHz.
    ASSERT_TRUE(session.click("dabBackToFM"));
    EXPECT_TRUE(session.waitFor([](const nlohmann::json& j) {
        const nlohmann::json& c = controller(j);
        return c["dabStreamRunning"] == false && c["dabActive"] == false && j["view"]["centreView"] == "analog" &&
               std::abs(c["frequencyMHz"].get<double>() - 92.1) < 1e-6 && j["controls"].contains("rdsPanel");
    })) << controller(session.current())["frequencyMHz"];
    {
        const auto trace = [](RGB c) { return near(c, kAccent, 35); };
        const Look look = lookWhen(session, shot("5-back-to-fm"), [&](const Image& image, const nlohmann::json& j) {
            return pixels(image, j, "spectrum", trace) > 300 && pixels(image, j, "rdsPanel", isText) > 40;
        });
        const Image& image = look.image;
        const nlohmann::json& j = look.state;
        EXPECT_GT(pixels(image, j, "spectrum", [](RGB c) { return near(c, kAccent, 35); }), 300);
        EXPECT_FALSE(j["controls"].contains("constellation"));
        EXPECT_EQ(controller(j)["isRunning"], true);
    }
    window.stop();
    std::filesystem::remove_all(documents);
}
