#pragma once

// The "Span" picker: the display span of the spectrum and waterfall, 2.048 or 1.536 MHz.
// Returns true when the choice changed.
bool drawSpanPicker(double& spanMHz);
