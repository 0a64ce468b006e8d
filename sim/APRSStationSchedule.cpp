#include "sim/APRSStationSchedule.h"

#include <cstdio>

APRSStationSchedule::APRSStationSchedule(std::vector<APRSStation> list, AFSKSettings s)
    : stations(std::move(list)), settings(s) {
    for (const APRSStation& st : stations) nextDueSeconds.push_back(st.firstSeconds);
}

std::vector<APRSStation> APRSStationSchedule::demoStations(double lat, double lon) {
    const auto station = [](AX25Address source, std::vector<AX25Address> path, double dLat,
                            double dLon, char table, char code, std::string comment,
                            bool messaging, bool timestamped, double first, double interval) {
        APRSStation st;
        st.source = std::move(source);
        st.path = std::move(path);
        st.report.latitudeDeg = dLat;
        st.report.longitudeDeg = dLon;
        st.report.symbolTable = table;
        st.report.symbolCode = code;
        st.report.comment = std::move(comment);
        st.report.messaging = messaging;
        st.sendsTimestamp = timestamped;
        st.firstSeconds = first;
        st.intervalSeconds = interval;
        return st;
    };
    const AX25Address wide11{.callsign = "WIDE1", .ssid = 1};
    return {
        station({"9A3RBS", 9}, {wide11, {"WIDE2", 1}}, lat + 0.061, lon - 0.092, '/', '>',
                "Mobile 145.500", false, false, 1.0, 15.0),
        station({"S55TRX", 0}, {{"WIDE2", 2}}, lat - 0.117, lon + 0.154, '/', '-',
                "QTH home station", true, true, 4.0, 20.0),
        station({"OE6XKR", 10}, {}, lat + 0.152, lon + 0.043, '/', '#', "", false, false, 7.0, 25.0),
        station({"9A1ZGB", 1}, {wide11}, lat - 0.043, lon - 0.011, '/', '_', "WX 21C 1013hPa",
                false, true, 10.0, 30.0),
    };
}

void APRSStationSchedule::startNext() {
    const double seconds = static_cast<double>(now) / settings.sampleRateHz;
    std::size_t due = stations.size();
    for (std::size_t k = 0; k < stations.size(); ++k) {
        if (nextDueSeconds[k] <= seconds && (due == stations.size() || nextDueSeconds[k] < nextDueSeconds[due])) {
            due = k;
        }
    }
    if (due == stations.size()) return;
    const APRSStation& st = stations[due];
    nextDueSeconds[due] += st.intervalSeconds;
    APRSPositionReport report = st.report;
    report.timestamp.reset();
    if (st.sendsTimestamp) {
        const auto total = static_cast<long>(seconds) + 12 * 3600;  // day 15, 12:00:00 UTC
        char text[48];
        std::snprintf(text, sizeof text, "%02d%02d%02dz", static_cast<int>(15 + total / 86400 % 14),
                      static_cast<int>(total / 3600 % 24), static_cast<int>(total / 60 % 60));
        report.timestamp = text;
    }
    APRSTransmission tx;
    tx.station = due;
    tx.startSample = now;
    tx.fields.source = st.source;
    tx.fields.path = st.path;
    tx.fields.information = APRSEncoder::positionInformation(report);
    tx.frame = APRSEncoder::frameBytes(tx.fields);
    onAir = APRSEncoder::modulate(
        APRSEncoder::hdlcBits(tx.frame, settings.preambleFlags, settings.postambleFlags), settings);
    onAirPosition = 0;
    sent.push_back(std::move(tx));
    // A third of a second of silence before the next packet.
    quietUntil = now + onAir.size() + static_cast<std::uint64_t>(settings.sampleRateHz / 3.0);
}

float APRSStationSchedule::nextAudioSample() {
    if (onAirPosition >= onAir.size() && now >= quietUntil) startNext();
    float out = 0.0f;
    if (onAirPosition < onAir.size()) out = onAir[onAirPosition++];
    ++now;
    return out;
}

void APRSStationSchedule::render(std::span<float> out) {
    for (float& s : out) s = nextAudioSample();
}
