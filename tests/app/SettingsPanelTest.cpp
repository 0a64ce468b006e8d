#include "SettingsPanel.h"

#include <gtest/gtest.h>

TEST(SettingsPanelTest, AcceptsOnlyRtlTcpAddressesWithAPort) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"", true},  // no network dongle
        {"rtltcp://127.0.0.1:1234", true},
        {"rtltcp://sdr.local:65535", true},
        {"rtltcp://[::1]:1234", true},  // the last colon separates the port
        {"rtltcp://127.0.0.1", false},
        {"rtltcp://:1234", false},
        {"rtltcp://host:0", false},
        {"rtltcp://host:65536", false},
        {"rtltcp://host:12ab", false},
        {"rtltcp://host/path:1234", false},
        {"tcp://127.0.0.1:1234", false},
        {"127.0.0.1:1234", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isNetworkDongleAddress(c.text), c.valid);
    }
}
