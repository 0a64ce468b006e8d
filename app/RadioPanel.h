#pragma once

struct PanelContext;

// The Radio section: "RADIO MODE" (wide FM, narrow FM, AM), the frequency entry and the
// "BANDS" shortcuts. The DAB part of the section comes with DAB reception.
void drawRadioPanel(PanelContext& context);
