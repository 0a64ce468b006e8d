#pragma once

struct PanelContext;

// The Decoders section: the RDS switch and its rows, the ADS-B switch with the aircraft list
// (speeds in knots) and the APRS switch with the packet list.
void drawDecodersPanel(PanelContext& context);
