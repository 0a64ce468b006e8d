#include <gtest/gtest.h>

#include "DABDataTestBuilders.h"
#include "dab/DABDynamicLabel.h"

using namespace dabdatatest;

namespace {
using Shown = std::tuple<std::string, std::optional<std::string>, std::optional<std::string>>;
std::vector<Shown> run(const std::vector<Bytes>& groups) {
    DABDynamicLabel label;
    std::vector<Shown> shown;
    label.onDynamicLabel = [&](const std::string& t, const std::optional<std::string>& a,
                               const std::optional<std::string>& ti) {
        shown.emplace_back(t, a, ti);
    };
    for (const Bytes& g : groups) label.pushDataGroup(g);
    return shown;
}
std::vector<Bytes> join(std::initializer_list<std::vector<Bytes>> parts) {
    std::vector<Bytes> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
}  // namespace

TEST(DABDynamicLabelTest, JoinsSegmentsOnceInAnyOrderAndDecodesCharsets) {
    auto segs =
        dlSegments(bytesOf("Now playing: a rather long title over four segments"), 0, false);
    ASSERT_EQ(segs.size(), 4u);
    std::swap(segs[1], segs[3]);
    EXPECT_EQ(
        run(join({segs, segs})),
        (std::vector<Shown>{{"Now playing: a rather long title over four segments", {}, {}}}));
    // č ć š ž in EBU Latin (0xDB 0xFB 0xDC 0xDD) and in UTF-8.
    EXPECT_EQ(std::get<0>(run(dlSegments({'c', 0xDB, 0xFB, 0xDC, 0xDD}, 0, true)).at(0)),
              "c\u010D\u0107\u0161\u017E");
    EXPECT_EQ(std::get<0>(run(dlSegments(bytesOf("\u010D\u0107\u0161\u017Ex"), 15, true)).at(0)),
              "\u010D\u0107\u0161\u017Ex");
}

TEST(DABDynamicLabelTest, ToggleChangeClearsAndBadCRCIsDropped) {
    const auto oldMsg = dlSegments(bytesOf("First message that spans two"), 0, false);
    const auto newMsg = dlSegments(bytesOf("Second message, also two parts"), 0, true);
    Bytes broken = newMsg[0];
    broken[4] ^= 0x20;
    const auto shown =
        run({oldMsg[0], newMsg[1], oldMsg[1], broken, newMsg[1], newMsg[0], sealed({0x91, 0x00})});
    EXPECT_EQ(shown, (std::vector<Shown>{{"Second message, also two parts", {}, {}},
                                         {"", {}, {}}}));  // then the clear command
}

TEST(DABDynamicLabelTest, DLPlusTagsGiveArtistAndTitle) {
    const auto msg = dlSegments(bytesOf("Mirela - Zora!"), 0, true);
    const Bytes tags = dlPlusCommand(true, {{4, 0, 6}, {1, 9, 5}});
    EXPECT_EQ(run(join({msg, {tags}})).back(), Shown("Mirela - Zora!", "Mirela", "Zora!"));
    EXPECT_EQ(run(join({{tags}, msg})).back(),
              Shown("Mirela - Zora!", "Mirela", "Zora!"));  // tags ahead of the text
    // UTF-8 markers count characters, not bytes.
    EXPECT_EQ(run(join({dlSegments(bytesOf("\u010Cuk \u2013 \u0160um"), 15, false),
                        {dlPlusCommand(false, {{4, 0, 3}, {1, 6, 3}})}}))
                  .back(),
              Shown("\u010Cuk \u2013 \u0160um", "\u010Cuk", "\u0160um"));
    // Another toggle's tags, markers past the end and an item not running give nothing.
    const auto talk = dlSegments(bytesOf("Talk"), 0, false);
    EXPECT_EQ(run(join({talk,
                        {dlPlusCommand(true, {{1, 0, 4}}), dlPlusCommand(false, {{1, 2, 5}}),
                         dlPlusCommand(false, {{1, 0, 4}}, false)}})),
              (std::vector<Shown>{{"Talk", {}, {}}}));
}
