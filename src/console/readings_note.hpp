// The note of the measurement and histogram pages on the readings file the
// controller was given (IFCSIM_READINGS in the pages' environment): whether
// it is in place, refused or missing, and whether it sets the page's values.
// The file is checked with the server's own parser (the parser and the file
// check alone are linked, not the server), so the page says what the
// controller makes of it.
#pragma once

#include "page.hpp"

namespace console {

// The values a page shows, as the readings file names them.
enum readings_part { kReadingsAverages, kReadingsHistograms };

// Writes <p id="readings" data-state="in-place|sets-none|refused|missing">;
// nothing without IFCSIM_READINGS.
void readings_note(html &h, readings_part part);

}  // namespace console
