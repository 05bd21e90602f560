// The residual vector plot of helmert-report: a plain SVG document.
//
// The control points stand at their zone positions (easting, northing in
// km, both axes at the same scale). Each point's horizontal residual (dE, dN)
// is an arrow from the point, magnified by a stated round factor so that the
// longest is about an eighth of the plot, with a scale bar for the arrows;
// the vertical residual dH colours the point's marker (blue below, white
// zero, red above, legend beside the plot). Flagged points are ringed and
// labelled with their index and largest standardized residual.
//
// Every arrow is one <line class="arrow"> element, so the document holds
// exactly one per point. The plot itself is FormatResidualPlot
// (ReportForms.hpp); this header holds what its tests need besides.
#pragma once

namespace helmert {

// The largest of 1, 2, 5 times a power of ten that is at most `value`
// (value > 0): the round numbers of scales and factors.
double RoundDown125(double value);

}  // namespace helmert
