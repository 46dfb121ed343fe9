// Histograms drawn as SVG bar charts, inline in a page.
#pragma once

#include <ifcsim/lib_reply.h>

#include <cstdint>
#include <string_view>

#include "page.hpp"

namespace console {

// The upper end of the count axis for a largest count of top: a round
// number (1, 2 or 5 times a power of ten, times the tick count) at or above
// it, so the grid lines carry round labels. *step gets the grid step.
int64_t axis_top(int64_t top, int ticks, int64_t *step);

// Writes an <svg> with element id `id`: one bar per bin (data-bin and
// data-count on each), the count axis with grid lines and labels, the bin
// axis labelled every 5 bins, and both axis titles. label names the chart
// for assistive technology. small draws the overview's thumbnail.
void histogram_svg(html &out, const ifc_histogram &h, markup id, std::string_view label,
                   bool small);

}  // namespace console
