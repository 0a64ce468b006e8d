#pragma once

#include "aprs/APRSPacket.h"
#include "platform/ListenerSet.h"

// Subscribers to decoded APRS packets (the KISS server, the command line); they run on the
// APRS thread and only queue the packet for their own thread.
using APRSListenerSet = ListenerSet<APRSPacket>;
