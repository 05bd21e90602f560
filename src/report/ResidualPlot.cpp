#include "report/ResidualPlot.hpp"

#include <algorithm>
#include <cmath>

#include "report/Printf.hpp"
#include "report/ReportForms.hpp"
#include "report/Utf8.hpp"

namespace helmert {

namespace {

// Page layout (SVG user units, about pixels).
constexpr double kLeftMargin = 80.0;
constexpr double kTopMargin = 70.0;
constexpr double kBottomMargin = 60.0;
constexpr double kLegendWidth = 250.0;
constexpr double kPlotWidth = 640.0;
constexpr double kMostPlotHeight = 900.0;
constexpr double kLeastPlotHeight = 320.0;
constexpr double kMarkerRadius = 6.0;
// Beyond this many points only flagged points are labelled.
constexpr std::size_t kMostLabelledPoints = 100;
// Beyond this many points the plot draws every flagged point and a
// spatially even subset of the others, about this many: a plot of 1e5
// points stays a few megabytes, quick to draw and readable.
constexpr std::size_t kMostDrawnPoints = 3000;
// The colour scale of dH reaches its ends at this many height sigmas.
constexpr double kColourRangeSigmas = 3.0;
// Width of a label's character (page units, about), to keep labels inside
// the plot.
constexpr double kLabelCharacterWidth = 7.5;
// Half the plotted extent per unit of the points' extent: a margin of 12 %
// on each side.
constexpr double kHalfExtentPerSpan = 0.62;
// The least extent drawn (metres): a single spot still gets a frame.
constexpr double kLeastSpanMetres = 100.0;
// The longest arrow is about this fraction of the plot's smaller side.
constexpr double kLongestArrowShare = 1.0 / 8.0;
// Length of the arrows' scale bar (page units, about).
constexpr double kScaleBarUnits = 80.0;
// The legend's blocks: the arrow scale, the colour bar, the flag symbol.
constexpr double kArrowLegendHeight = 95.0;
constexpr double kColourBarHeight = 160.0;
constexpr double kColourLegendHeight = 200.0;
// Flagged points: ring and label colour.
constexpr char kFlagColour[] = "#d40000";

// Text for XML character data or an attribute value.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (const char c : PrintableUtf8(text)) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

// Diverging colour for t in [-1, 1]: blue, white, red.
std::string DivergingColour(double t) {
  t = std::clamp(std::isfinite(t) ? t : 0.0, -1.0, 1.0);
  const double white[3] = {247, 247, 247};
  const double blue[3] = {33, 102, 172};
  const double red[3] = {178, 24, 43};
  const double* end = t < 0 ? blue : red;
  const double a = std::fabs(t);
  int rgb[3];
  for (int k = 0; k < 3; ++k) {
    rgb[k] = static_cast<int>(std::lround(white[k] + (end[k] - white[k]) * a));
  }
  return Printf("#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
}

// A length in metres as the surveyor would say it: metres from 1 m up,
// millimetres below, three significant digits.
std::string LengthText(double metres) {
  if (metres >= 1.0) return Printf("%.3g m", metres);
  return Printf("%.3g mm", metres * 1e3);
}

// A whole factor with its digits grouped by threes: 5,000,000.
std::string FactorText(double factor) {
  const std::string digits = Printf("%.0f", factor);
  std::string grouped;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

// Maps zone metres to page units, north up, the same scale on both axes.
struct PageFrame {
  double east_min = 0;   // metres at the plot's left edge
  double north_max = 0;  // metres at the plot's top edge
  double units_per_metre = 1;
  double width = kPlotWidth;
  double height = kLeastPlotHeight;
  double X(double easting) const {
    return kLeftMargin + (easting - east_min) * units_per_metre;
  }
  double Y(double northing) const {
    return kTopMargin + (north_max - northing) * units_per_metre;
  }
};

PageFrame FrameFor(const std::vector<Point3>& projected) {
  double e_min = projected[0].x, e_max = e_min;
  double n_min = projected[0].y, n_max = n_min;
  for (const Point3& p : projected) {
    e_min = std::min(e_min, p.x);
    e_max = std::max(e_max, p.x);
    n_min = std::min(n_min, p.y);
    n_max = std::max(n_max, p.y);
  }
  // A margin of 12 % around the points, and no axis narrower than a third
  // of the other (points along a line) or than 100 m (a single spot).
  const double span =
      std::max({e_max - e_min, n_max - n_min, kLeastSpanMetres});
  const double half_e =
      std::max(e_max - e_min, span / 3.0) * kHalfExtentPerSpan;
  double half_n = std::max(n_max - n_min, span / 3.0) * kHalfExtentPerSpan;
  PageFrame frame;
  frame.units_per_metre =
      std::min(kPlotWidth / (2 * half_e), kMostPlotHeight / (2 * half_n));
  frame.width = 2 * half_e * frame.units_per_metre;
  frame.height = 2 * half_n * frame.units_per_metre;
  if (frame.height < kLeastPlotHeight) {
    frame.height = kLeastPlotHeight;
    half_n = frame.height / frame.units_per_metre / 2;
  }
  frame.east_min = (e_min + e_max) / 2 - half_e;
  frame.north_max = (n_min + n_max) / 2 + half_n;
  return frame;
}

void AppendAxes(const PageFrame& frame, std::string& svg) {
  svg += Printf(
      "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
      "fill=\"white\" stroke=\"#333\"/>\n",
      kLeftMargin, kTopMargin, frame.width, frame.height);
  const double width_m = frame.width / frame.units_per_metre;
  const double height_m = frame.height / frame.units_per_metre;
  const double step = RoundDown125(std::max(width_m, height_m) / 6.0);
  const double decimals_of_km =
      std::max(0.0, -std::floor(std::log10(step / 1000.0)));
  const int decimals = static_cast<int>(decimals_of_km);
  svg += "<g font-size=\"11\" fill=\"#333\" stroke=\"#ccc\">\n";
  for (double e = std::ceil(frame.east_min / step) * step;
       e <= frame.east_min + width_m; e += step) {
    const double x = frame.X(e);
    svg += Printf(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" "
        "stroke=\"none\">%.*f</text>\n",
        x, kTopMargin, x, kTopMargin + frame.height, x,
        kTopMargin + frame.height + 16, decimals, e / 1000.0);
  }
  const double north_min = frame.north_max - height_m;
  for (double n = std::ceil(north_min / step) * step; n <= frame.north_max;
       n += step) {
    const double y = frame.Y(n);
    svg += Printf(
        "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" "
        "stroke=\"none\">%.*f</text>\n",
        kLeftMargin, y, kLeftMargin + frame.width, y, kLeftMargin - 6, y + 4,
        decimals, n / 1000.0);
  }
  svg += "</g>\n";
  svg += Printf(
      "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" font-size=\"13\">"
      "Easting (km, zone)</text>\n",
      kLeftMargin + frame.width / 2, kTopMargin + frame.height + 40);
  svg += Printf(
      "<text transform=\"translate(%.1f %.1f) rotate(-90)\" "
      "text-anchor=\"middle\" font-size=\"13\">Northing (km, zone)</text>\n",
      kLeftMargin - 62, kTopMargin + frame.height / 2);
}

// The arrows' magnification and the scale that both the points and the
// legend use.
struct ArrowScale {
  double magnification = 1.0;           // a round factor
  double units_per_residual_metre = 1;  // page units per metre of residual
  double bar_metres = 1.0;              // the scale bar's length
  double colour_range = 1.0;            // |dH| at the ends of the colour bar
  bool colour_by_sigma = false;         // the range is 3 height sigmas
};

ArrowScale ScaleFor(const Assessment& a, const PageFrame& frame) {
  ArrowScale scale;
  const double longest = a.points[a.max_horizontal_point].horizontal;
  const double plot_size = std::min(frame.width, frame.height);
  scale.magnification = longest > 0.0
                            ? RoundDown125(plot_size * kLongestArrowShare /
                                           (longest * frame.units_per_metre))
                            : 1.0;
  scale.units_per_residual_metre = scale.magnification * frame.units_per_metre;
  scale.bar_metres =
      RoundDown125(kScaleBarUnits / scale.units_per_residual_metre);
  // Symmetric about 0 and scaled to the heights' precision, not to the
  // largest dH: a few millimetres of noise then stay pale.
  const double height_sigma = a.height.Sigma();
  const double highest = std::fabs(a.points[a.max_vertical_point].residual.z);
  scale.colour_by_sigma = height_sigma > 0.0;
  scale.colour_range = scale.colour_by_sigma ? kColourRangeSigmas * height_sigma
                       : highest > 0.0       ? highest
                                             : 1.0;
  return scale;
}

// The XML prologue, the definitions, the background and the two title lines.
void AppendHeader(const TransformationReport& report, const PageFrame& frame,
                  const ArrowScale& scale, std::string& svg) {
  const Assessment& a = report.assessment;
  const double page_width = kLeftMargin + frame.width + kLegendWidth;
  const double page_height = kTopMargin + frame.height + kBottomMargin;
  svg += Printf(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" "
      "height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
      "font-family=\"sans-serif\">\n",
      page_width, page_height, page_width, page_height);
  svg +=
      "<defs><marker id=\"head\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
      "markerWidth=\"5\" markerHeight=\"5\" orient=\"auto-start-reverse\">"
      "<path d=\"M0,0 L10,5 L0,10 z\" fill=\"#222\"/></marker>\n"
      "<linearGradient id=\"dh\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
      "<stop offset=\"0\" stop-color=\"" +
      DivergingColour(1.0) + "\"/><stop offset=\"0.5\" stop-color=\"" +
      DivergingColour(0.0) + "\"/><stop offset=\"1\" stop-color=\"" +
      DivergingColour(-1.0) + "\"/></linearGradient></defs>\n";
  svg += Printf("<rect width=\"%.0f\" height=\"%.0f\" fill=\"#fafafa\"/>\n",
                page_width, page_height);
  svg += "<text x=\"" + Printf("%.1f", kLeftMargin) +
         "\" y=\"28\" font-size=\"16\" font-weight=\"bold\">Residuals of " +
         Escaped(report.control_path) + "</text>\n";
  svg += Printf(
      "<text x=\"%.1f\" y=\"50\" font-size=\"12\" fill=\"#444\">L0 = %.0f°, "
      "%zu points, RMS horizontal %s, vertical %s; precision plan %s, "
      "height %s (%s); arrows ×%s</text>\n",
      kLeftMargin, report.stored.central_meridian_degrees, a.points.size(),
      LengthText(a.rms_horizontal).c_str(), LengthText(a.rms_vertical).c_str(),
      LengthText(a.plan.Sigma()).c_str(), LengthText(a.height.Sigma()).c_str(),
      a.global_test
          ? ("estimated; stated " +
             LengthText(a.global_test->plan.sigma_stated) + ", " +
             LengthText(a.global_test->height.sigma_stated))
                .c_str()
          : "estimated, none stated",
      FactorText(scale.magnification).c_str());
  // The report's verdict, red unless the transformation fits.
  const bool fits = a.flagged_count == 0 && !a.trend.detected &&
                    !report.height_scaling &&
                    !(a.check && !a.check->agrees) &&
                    !(a.global_test && !a.global_test->Passed());
  svg += Printf(
      "<text class=\"verdict\" x=\"%.1f\" y=\"64\" font-size=\"11\" "
      "font-weight=\"bold\" fill=\"%s\">Verdict: ",
      kLeftMargin, fits ? "#1a6e1a" : kFlagColour);
  svg += Escaped(report.verdict) + "</text>\n";
}

// Which points the plot draws: all of them up to kMostDrawnPoints; beyond,
// every flagged point and the first of the others in each cell of a grid
// over the plot of about kMostDrawnPoints cells.
std::vector<bool> PointsToDraw(const TransformationReport& report,
                               const PageFrame& frame) {
  const Assessment& a = report.assessment;
  const std::size_t n = a.points.size();
  if (n <= kMostDrawnPoints) return std::vector<bool>(n, true);
  const double side = std::sqrt(frame.width * frame.height /
                                static_cast<double>(kMostDrawnPoints));
  const std::size_t columns =
      static_cast<std::size_t>(std::ceil(frame.width / side)) + 1;
  const std::size_t rows =
      static_cast<std::size_t>(std::ceil(frame.height / side)) + 1;
  std::vector<bool> taken(columns * rows, false);
  std::vector<bool> drawn(n, false);
  for (std::size_t i = 0; i < n; ++i) {
    if (a.points[i].flagged) {
      drawn[i] = true;
      continue;
    }
    const double column = (frame.X(report.projected[i].x) - kLeftMargin) / side;
    const double row = (frame.Y(report.projected[i].y) - kTopMargin) / side;
    const std::size_t cell =
        std::min(rows - 1, static_cast<std::size_t>(std::max(0.0, row))) *
            columns +
        std::min(columns - 1, static_cast<std::size_t>(std::max(0.0, column)));
    if (!taken[cell]) {
      taken[cell] = true;
      drawn[i] = true;
    }
  }
  return drawn;
}

// A label at (x, y) inside the plot: anchored at its end when it would
// run past the plot's right edge into the legend.
std::string Label(const PageFrame& frame, double x, double y,
                  const std::string& text, const char* attributes) {
  const double width = kLabelCharacterWidth * static_cast<double>(text.size());
  const bool flip = x + width > kLeftMargin + frame.width;
  return Printf("<text x=\"%.1f\" y=\"%.1f\"%s %s>%s</text>\n",
                flip ? x - 20 : x, y, flip ? " text-anchor=\"end\"" : "",
                attributes, Escaped(text).c_str());
}

// Each drawn point: its marker coloured by dH, its arrow (dE, dN), its
// label.
void AppendPoints(const TransformationReport& report, const PageFrame& frame,
                  const ArrowScale& scale, const std::vector<bool>& drawn,
                  std::string& svg) {
  const Assessment& a = report.assessment;
  const bool label_all = a.points.size() <= kMostLabelledPoints;
  // Labels and arrows are clipped to the plot: none reaches the legend.
  svg += Printf(
      "<clipPath id=\"plot\"><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
      "height=\"%.1f\"/></clipPath>\n<g clip-path=\"url(#plot)\">\n",
      kLeftMargin, kTopMargin, frame.width, frame.height);
  for (std::size_t i = 0; i < a.points.size(); ++i) {
    if (!drawn[i]) continue;
    const PointAssessment& point = a.points[i];
    const double x = frame.X(report.projected[i].x);
    const double y = frame.Y(report.projected[i].y);
    svg += Printf(
        "<circle class=\"point\" cx=\"%.1f\" cy=\"%.1f\" r=\"%.1f\" "
        "fill=\"%s\" stroke=\"%s\" stroke-width=\"%.1f\"/>\n",
        x, y, point.flagged ? kMarkerRadius + 2 : kMarkerRadius,
        DivergingColour(point.residual.z / scale.colour_range).c_str(),
        point.flagged ? kFlagColour : "#555", point.flagged ? 3.0 : 1.0);
    svg += Printf(
        "<line class=\"arrow\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
        "stroke=\"#222\" stroke-width=\"1.6\" marker-end=\"url(#head)\"/>\n",
        x, y, x + point.residual.x * scale.units_per_residual_metre,
        y - point.residual.y * scale.units_per_residual_metre);
    if (point.flagged) {
      svg += Label(
          frame, x + 10, y - 10,
          report.labels[i] +
              Printf(": %c, w %.1f", kComponentNames[point.largest_component],
                     ComponentOf(point.standardized, point.largest_component)),
          Printf("class=\"flag\" font-size=\"13\" font-weight=\"bold\" "
                 "fill=\"%s\"",
                 kFlagColour)
              .c_str());
    } else if (label_all) {
      svg += Label(frame, x + 8, y + 14, report.labels[i],
                   "font-size=\"10\" fill=\"#777\"");
    }
  }
  svg += "</g>\n";
}

// The legend beside the plot: the arrow scale bar, the dH colours, the flag
// symbol and the count of flagged points.
void AppendLegend(const Assessment& a, const PageFrame& frame,
                  const ArrowScale& scale, std::size_t drawn_count,
                  std::string& svg) {
  const double lx = kLeftMargin + frame.width + 30;
  double ly = kTopMargin + 10;
  const double bar = scale.bar_metres * scale.units_per_residual_metre;
  svg += Printf(
      "<g font-size=\"12\">\n<text x=\"%.1f\" y=\"%.1f\" "
      "font-weight=\"bold\">Horizontal residual</text>\n",
      lx, ly);
  svg += Printf(
      "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#222\" "
      "stroke-width=\"3\"/>\n<text x=\"%.1f\" y=\"%.1f\">%s (arrows ×%s)"
      "</text>\n<text x=\"%.1f\" y=\"%.1f\" fill=\"#444\">forward map minus "
      "destination</text>\n",
      lx, ly + 20, lx + bar, ly + 20, lx, ly + 38,
      LengthText(scale.bar_metres).c_str(),
      FactorText(scale.magnification).c_str(), lx, ly + 56);
  ly += kArrowLegendHeight;
  svg += Printf(
      "<text x=\"%.1f\" y=\"%.1f\" font-weight=\"bold\">Vertical residual dH"
      "%s</text>\n<rect x=\"%.1f\" y=\"%.1f\" width=\"18\" height=\"%.0f\" "
      "fill=\"url(#dh)\" stroke=\"#555\"/>\n",
      lx, ly, scale.colour_by_sigma ? " (±3 σ_h)" : "", lx, ly + 12,
      kColourBarHeight);
  const double ticks[3] = {scale.colour_range, 0.0, -scale.colour_range};
  for (int k = 0; k < 3; ++k) {
    const std::string value =
        ticks[k] == 0.0
            ? std::string("0 mm")
            : (ticks[k] > 0 ? "+" : "-") + LengthText(std::fabs(ticks[k]));
    svg += Printf("<text x=\"%.1f\" y=\"%.1f\">%s</text>\n", lx + 26,
                  ly + 16 + kColourBarHeight / 2 * k, value.c_str());
  }
  ly += kColourLegendHeight;
  svg += Printf(
      "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"8\" fill=\"white\" "
      "stroke=\"%s\" stroke-width=\"3\"/>\n<text x=\"%.1f\" y=\"%.1f\">"
      "flagged: |w| beyond %.2f plan, %.2f height</text>\n",
      lx + 8, ly, kFlagColour, lx + 24, ly + 4, a.plan_critical_w,
      a.height_critical_w);
  svg += Printf(
      "<text x=\"%.1f\" y=\"%.1f\" fill=\"#444\">%zu of %zu flagged</text>\n",
      lx + 24, ly + 22, a.flagged_count, a.points.size());
  if (drawn_count < a.points.size()) {
    svg += Printf(
        "<text class=\"drawn\" x=\"%.1f\" y=\"%.1f\" fill=\"#444\">%zu of "
        "%zu points drawn:</text>\n<text x=\"%.1f\" y=\"%.1f\" "
        "fill=\"#444\">every flagged one, an even</text>\n<text x=\"%.1f\" "
        "y=\"%.1f\" fill=\"#444\">spread of the others</text>\n",
        lx, ly + 50, drawn_count, a.points.size(), lx, ly + 66, lx, ly + 82);
  }
  svg += "</g>\n</svg>\n";
}

}  // namespace

double RoundDown125(double value) {
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  const double mantissa = value / power;
  if (mantissa >= 5.0) return 5.0 * power;
  if (mantissa >= 2.0) return 2.0 * power;
  return power;
}

std::string FormatResidualPlot(const TransformationReport& report) {
  const PageFrame frame = FrameFor(report.projected);
  const ArrowScale scale = ScaleFor(report.assessment, frame);
  std::string svg;
  // About 225 bytes a point (fewer beyond kMostLabelledPoints), reserved once.
  svg.reserve(8192 + 240 * std::min(report.assessment.points.size(),
                                    2 * kMostDrawnPoints));
  AppendHeader(report, frame, scale, svg);
  AppendAxes(frame, svg);
  const std::vector<bool> drawn = PointsToDraw(report, frame);
  AppendPoints(report, frame, scale, drawn, svg);
  AppendLegend(
      report.assessment, frame, scale,
      static_cast<std::size_t>(std::count(drawn.begin(), drawn.end(), true)),
      svg);
  return svg;
}

}  // namespace helmert
