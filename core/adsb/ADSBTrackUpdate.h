#pragma once

#include "adsb/ADSBAircraft.h"
#include "adsb/DecodedADSBMessage.h"

// What one delivered message did to the track of its aircraft: the message itself and the
// record as it stands after the tracker took it. Handed to feeds on the processing thread.
struct ADSBTrackUpdate {
    DecodedADSBMessage message;
    ADSBAircraft aircraft;
    bool positionUpdated = false;  // this message produced a new latitude/longitude
};
