#include "dab/DABEnsembleTables.h"

#include <gtest/gtest.h>

#include "support/TestSignals.h"

namespace {

DABEnsembleInfo ensembleWith(std::vector<DABService> services, std::string label = "Mux") {
    return DABEnsembleInfo{.label = std::move(label), .ensembleId = 0x1001, .services = std::move(services)};
}

}  // namespace

TEST(DABEnsembleTablesTest, BitRatesOfLongAndShortForm) {
    struct Case {
        DABSubchannel sub;
        int expectedKbps;
        const char* source;
    };
    const Case cases[] = {
        {{.sizeCU = 84, .protection = 2}, 112, "3-A: 84 CU × 8 / 6"},
        {{.sizeCU = 84, .protection = 6}, 168, "3-B has no 84 CU rate: 84 × 8 × 0.75 / 3"},
        {{.sizeCU = 72, .protection = 6}, 128, "3-B: 18n CU for n × 32 kbit/s"},
        {{.sizeCU = 54, .protection = 4}, 64, "1-B: 27n CU"},
        {{.sizeCU = 60, .protection = 7}, 128, "4-B: 15n CU"},
        {{.sizeCU = 72, .protection = 0}, 48, "1-A: 72 CU × 8 / 12"},
        {{.sizeCU = 96, .protection = 3}, 192, "4-A: 96 CU × 8 / 4"},
        {{.sizeCU = 35, .protection = 1}, 35, "2-A: 35 × 8 × 0.375 / 3 = 35"},
        {{.sizeCU = 84, .protection = 27, .isShort = true}, 96, "UEP table index 27"},
        {{.sizeCU = 16, .protection = 0, .isShort = true}, 32, "UEP table index 0"},
        {{.sizeCU = 416, .protection = 63, .isShort = true}, 384, "UEP table index 63"},
        {{.sizeCU = 1, .protection = 64, .isShort = true}, 0, "outside the table"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(dabtables::bitrateKbps(c.sub), c.expectedKbps);
    }
    EXPECT_FALSE(dabtables::uepEntry(-1).has_value());
    EXPECT_FALSE(dabtables::uepEntry(64).has_value());
    const auto row = dabtables::uepEntry(23);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->sizeCU, 84);
    EXPECT_EQ(row->protectionLevel, 1);
    EXPECT_EQ(row->bitrateKbps, 80);
}

TEST(DABEnsembleTablesTest, UEPTableIsConsistentPerRate) {
    // Within each bit rate the level falls and the size rises; 14 rates from 32 to 384 kbit/s.
    int rates = 0;
    for (int i = 0; i < 64; ++i) {
        const auto row = dabtables::uepEntry(i);
        ASSERT_TRUE(row.has_value());
        const auto previous = i > 0 ? dabtables::uepEntry(i - 1) : std::nullopt;
        if (!previous || previous->bitrateKbps != row->bitrateKbps) {
            ++rates;
            continue;
        }
        EXPECT_LT(row->protectionLevel, previous->protectionLevel) << i;
        EXPECT_GT(row->sizeCU, previous->sizeCU) << i;
    }
    EXPECT_EQ(rates, 14);
}

TEST(DABEnsembleTablesTest, MergingKeepsProperNamesAndFillsPlaceholders) {
    const DABEnsembleInfo first = ensembleWith({{.id = 1, .name = "Alpha", .isAudio = true},
                                                {.id = 2, .name = "SId 0002", .isAudio = true}},
                                               "Ensemble 1001");
    const DABEnsembleInfo second = ensembleWith({{.id = 1, .name = "SId 0001", .isAudio = false},
                                                 {.id = 2, .name = "Beta", .isAudio = false},
                                                 {.id = 3, .name = "Gamma", .isAudio = true}},
                                                "Real Mux");
    EXPECT_EQ(dabtables::mergeServiceLabels(std::nullopt, second), second);
    const DABEnsembleInfo merged = dabtables::mergeServiceLabels(first, second);
    ASSERT_EQ(merged.services.size(), 3u);
    EXPECT_EQ(merged.services[0], (DABService{.id = 1, .name = "Alpha", .isAudio = true}));
    EXPECT_EQ(merged.services[1], (DABService{.id = 2, .name = "Beta", .isAudio = true}));
    EXPECT_EQ(merged.services[2].name, "Gamma");
    EXPECT_EQ(merged.label, "Real Mux");
    // A proper label is not replaced, and a placeholder does not replace one.
    EXPECT_EQ(dabtables::mergeServiceLabels(merged, ensembleWith({}, "Other")).label, "Real Mux");
    EXPECT_EQ(dabtables::mergeServiceLabels(ensembleWith({}, ""), ensembleWith({}, "Ensemble 1001")).label, "");
    EXPECT_EQ(dabtables::mergeServiceLabels(ensembleWith({}, "Ensemble"), ensembleWith({}, "Mux")).label, "Mux");
}

TEST(DABEnsembleTablesTest, ServiceAndSubchannelRows) {
    DABEnsembleInfo e = ensembleWith({{.id = 0xA, .name = "A One", .isAudio = true},
                                      {.id = 0xB, .name = "B Two", .isAudio = true},
                                      {.id = 0xC, .name = "C None", .isAudio = false}});
    e.subchannels[4] = {.id = 4, .startCU = 0, .sizeCU = 84, .protection = 2};
    e.subchannels[1] = {.id = 1, .startCU = 84, .sizeCU = 84, .protection = 27, .isShort = true};
    e.subchannels[9] = {.id = 9, .startCU = 168, .sizeCU = 10, .protection = 1};
    e.serviceLinks[0xA] = {.serviceId = 0xA, .primarySubchannelId = 4, .isAudio = true};
    e.serviceLinks[0xB] = {.serviceId = 0xB, .primarySubchannelId = 1, .isAudio = true};
    e.serviceLinks[0xC] = {.serviceId = 0xC, .primarySubchannelId = 30, .isAudio = false};

    const std::vector<DABServiceInfo> rows = dabtables::serviceRows(e);
    ASSERT_EQ(rows.size(), 3u);
    const std::vector<DABServiceInfo> infos = dabtables::buildServiceInfos(e, rows);
    EXPECT_EQ(infos[0], (DABServiceInfo{.serviceID = 0xA, .label = "A One", .bitrateKbps = 112}));
    EXPECT_EQ(infos[1].bitrateKbps, 96);
    EXPECT_EQ(infos[2].bitrateKbps, 0);  // linked sub-channel 30 does not exist

    const std::vector<DABSubchannelInfo> subs = dabtables::buildSubchannelInfos(e, rows);
    ASSERT_EQ(subs.size(), 3u);
    EXPECT_EQ(subs[0].id, 1);
    EXPECT_EQ(subs[0].linkedServiceName, "B Two");
    EXPECT_EQ(subs[0].bitrateKbps, 96);
    EXPECT_TRUE(subs[0].isShort);
    EXPECT_EQ(subs[1], (DABSubchannelInfo{.id = 4, .startCU = 0, .sizeCU = 84, .protection = 2,
                                          .bitrateKbps = 112, .linkedServiceName = "A One",
                                          .linkedServiceId = 0xA, .linkedIsAudio = true}));
    EXPECT_EQ(subs[2].id, 9);
    EXPECT_FALSE(subs[2].linkedServiceId.has_value());
    // A link whose service has no row keeps the SId but no name.
    const std::vector<DABSubchannelInfo> unnamed = dabtables::buildSubchannelInfos(e, {});
    EXPECT_FALSE(unnamed[1].linkedServiceName.has_value());
    EXPECT_EQ(unnamed[1].linkedServiceId, 0xAu);
}

TEST(DABEnsembleTablesTest, FICCRCCountFromStatusTexts) {
    EXPECT_EQ(dabtables::parseFICCRCCount("FIC CRC 7/12 \u00B7 svc 4"), 7);
    EXPECT_EQ(dabtables::parseFICCRCCount("FIC CRC 0/12"), 0);
    EXPECT_EQ(dabtables::parseFICCRCCount("FIC CRC  12 /12"), 12);
    EXPECT_EQ(dabtables::parseFICCRCCount("FIC: short IQ"), 0);
    EXPECT_EQ(dabtables::parseFICCRCCount("/12 before CRC 5"), 0);
    EXPECT_EQ(dabtables::parseFICCRCCount("CRC x/12"), 0);
    EXPECT_EQ(dabtables::parseFICCRCCount("CRC /12"), 0);
    EXPECT_EQ(dabtables::parseFICCRCCount(""), 0);
}

TEST(DABEnsembleTablesTest, SNRAndPowerEstimates) {
    EXPECT_EQ(dabtables::estimateDABSNR(makeNoise(1, 4'095)), 0.0f);
    EXPECT_EQ(dabtables::estimateDABSNR(std::vector<IQSample>(20'000, IQSample{0.3f, -0.4f})), 0.0f);
    EXPECT_EQ(dabtables::estimateDABSNR(std::vector<IQSample>(4'096, IQSample{})), 0.0f);

    EXPECT_EQ(dabtables::estimatePowerDB({}), -120.0f);
    EXPECT_NEAR(dabtables::estimatePowerDB(std::vector<IQSample>(1'000, IQSample{0.1f, 0.0f})), -20.0f, 1e-4f);
    EXPECT_NEAR(dabtables::estimatePowerDB(std::vector<IQSample>(10, IQSample{})), -200.0f, 1e-3f);
}
