#include "chart.hpp"

#include <algorithm>
#include <string>

namespace console {

int64_t axis_top(int64_t top, int ticks, int64_t *step) {
  if (top < 1) top = 1;
  if (ticks < 1) ticks = 1;
  int64_t raw = (top + ticks - 1) / ticks;
  int64_t magnitude = 1;
  while (magnitude * 10 <= raw) magnitude *= 10;
  int64_t s = magnitude;
  for (int64_t f : {1, 2, 5, 10}) {
    s = f * magnitude;
    if (s >= raw) break;
  }
  *step = s;
  return s * ((top + s - 1) / s);
}

void histogram_svg(html &out, const ifc_histogram &h, markup id, std::string_view label,
                   bool small) {
  const int width = small ? 300 : 560;
  const int height = small ? 150 : 280;
  const int font = small ? 9 : 11;

  int64_t largest = 0;
  for (int32_t b : h.bins) largest = std::max<int64_t>(largest, b);
  int64_t step = 1;
  const int64_t axis = axis_top(largest, small ? 2 : 5, &step);

  // Room left of the axis for the longest count label (digits are about
  // 0.62 of the font size wide) and, on the large chart, the axis title.
  const int label_w = static_cast<int>(std::to_string(axis).size() * font * 0.62) + 1;
  const int left = std::max(small ? 34 : 56, label_w + (small ? 8 : 26));
  const int right = 8, top_margin = 10;
  const int bottom = small ? 22 : 44;
  const double plot_w = width - left - right;
  const double plot_h = height - top_margin - bottom;
  const double bar_w = plot_w / IFC_HIST_BINS;
  const double base = top_margin + plot_h;

  out << "<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\"";
  out.attr("id", id.text).attr("width", width).attr("height", height);
  out << " viewBox=\"0 0 ";
  out.num(width) << " ";
  out.num(height) << "\"";
  out.attr("aria-label", label) << "><title>";
  out.text(label) << "</title>";

  // Grid lines and count labels.
  for (int64_t v = 0; v <= axis; v += step) {
    double y = base - plot_h * static_cast<double>(v) / static_cast<double>(axis);
    out << "<line stroke=\"#dde3ea\"";
    out.attr("x1", left).attr("x2", width - right);
    out << " y1=\"";
    out.fixed(y, 1) << "\" y2=\"";
    out.fixed(y, 1) << "\"/><text text-anchor=\"end\" fill=\"#445\"";
    out.attr("font-size", font).attr("x", left - 4);
    out << " y=\"";
    out.fixed(y + font / 3.0, 1) << "\">";
    out.num(v) << "</text>";
  }

  for (int i = 0; i < IFC_HIST_BINS; ++i) {
    int64_t count = std::max<int32_t>(h.bins[i], 0);
    double bar_h = plot_h * static_cast<double>(count) / static_cast<double>(axis);
    out << "<rect class=\"bar\" fill=\"#3d7cc9\"";
    out.attr("data-bin", i).attr("data-count", h.bins[i]);
    out << " x=\"";
    out.fixed(left + i * bar_w + 0.5, 1) << "\" y=\"";
    out.fixed(base - bar_h, 1) << "\" width=\"";
    out.fixed(std::max(bar_w - 1.0, 0.5), 1) << "\" height=\"";
    out.fixed(bar_h, 1) << "\"><title>bin ";
    out.num(i) << ": ";
    out.num(h.bins[i]) << "</title></rect>";
  }

  // Axes, bin labels every 5 bins, titles.
  out << "<line stroke=\"#445\"";
  out.attr("x1", left).attr("x2", left).attr("y1", top_margin);
  out << " y2=\"";
  out.fixed(base, 1) << "\"/><line stroke=\"#445\"";
  out.attr("x1", left).attr("x2", width - right);
  out << " y1=\"";
  out.fixed(base, 1) << "\" y2=\"";
  out.fixed(base, 1) << "\"/>";
  for (int i = 0; i < IFC_HIST_BINS; i += 5) {
    out << "<text text-anchor=\"middle\" fill=\"#445\"";
    out.attr("font-size", font);
    out << " x=\"";
    out.fixed(left + (i + 0.5) * bar_w, 1) << "\" y=\"";
    out.fixed(base + font + 3, 1) << "\">";
    out.num(i) << "</text>";
  }
  if (!small) {
    out << "<text text-anchor=\"middle\" fill=\"#223\" font-size=\"12\"";
    out.attr("x", left + static_cast<int>(plot_w) / 2).attr("y", height - 6);
    out << ">bin</text><text text-anchor=\"middle\" fill=\"#223\" font-size=\"12\" "
           "transform=\"rotate(-90)\"";
    out.attr("x", -(top_margin + static_cast<int>(plot_h) / 2)).attr("y", 14);
    out << ">count</text>";
  }
  out << "</svg>";
}

}  // namespace console
