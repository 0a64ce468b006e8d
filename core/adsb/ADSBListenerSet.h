#pragma once

#include "adsb/ADSBTrackUpdate.h"
#include "platform/ListenerSet.h"

// Subscribers to delivered ADS-B messages (the feeds); they only queue the update for their
// own thread.
using ADSBListenerSet = ListenerSet<ADSBTrackUpdate>;
