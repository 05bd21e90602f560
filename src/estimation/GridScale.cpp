#include "estimation/GridScale.hpp"

#include <cmath>
#include <cstdio>

namespace helmert {

namespace {

// Scale factors on the central meridian of the transverse Mercator grids
// in use, with the digits their definitions give.
constexpr double kUsualScaleFactors[] = {
    0.9993,        // Poland CS92
    0.9996,        // UTM, and the national grids built on it
    0.9996012717,  // British National Grid
    0.9998,        // some Gauss-Krueger site grids
    0.99982,       // Irish Transverse Mercator
    0.9999,        // many State Plane zones, MTM, Japan's plane zones
    0.999923,      // Poland CS2000
    0.999933333,   // State Plane: 1 - 1/15000
    0.999941177,   // State Plane: 1 - 1/17000
    0.99995,       // State Plane
    0.99996,       // State Plane
    0.999966667,   // State Plane: 1 - 1/30000
    0.999975,      // State Plane
};

std::string Number(const char* format, double value) {
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::optional<HeightScaling> GridScaleOnHeights(
    double scale, double height_range_metres,
    std::optional<double> named_factor) {
  const double deviation = std::fabs(scale - 1.0);
  const double error = height_range_metres * deviation;
  if (!(deviation > kMostDatumScaleDeviation &&
        error > kLeastHeightScalingMetres)) {
    return std::nullopt;
  }
  HeightScaling scaling;
  scaling.scale = scale;
  scaling.height_range_metres = height_range_metres;
  scaling.height_error_metres = error;
  scaling.named_factor = named_factor;
  const double implied = scale * named_factor.value_or(1.0);
  double nearest = kUsualFactorTolerance;
  for (double factor : kUsualScaleFactors) {
    const double distance = std::fabs(implied - factor);
    if (distance <= nearest) {
      nearest = distance;
      scaling.usual_factor = factor;
    }
  }
  if (named_factor && std::fabs(implied - 1.0) <= nearest) {
    scaling.usual_factor = 1.0;
  }
  return scaling;
}

std::string HeightScalingAdvice(const HeightScaling& scaling) {
  std::string text =
      "Scale = " + Number("%.7g", scaling.scale) + " (" +
      Number("%+.0f", (scaling.scale - 1.0) * 1e6) +
      " ppm) is a grid's scale factor, not a datum's: it scales the heights "
      "too, by up to " +
      Number("%.0f", scaling.height_error_metres * 1e3) + " mm over their " +
      Number("%.0f", scaling.height_range_metres) + " m range; ";
  if (scaling.named_factor) {
    text += "the document's \"scale_factor\" " +
            Number("%.10g", *scaling.named_factor) + " is not the grid's; ";
    if (scaling.usual_factor == 1.0) {
      return text +
             "if the grid has none (scale 1 on its central meridian), remove "
             "\"scale_factor\" from \"define\"";
    }
  }
  if (scaling.usual_factor) {
    const std::string factor = Number("%.10g", *scaling.usual_factor);
    return text + "if the grid's scale factor is " + factor + ", " +
           (scaling.named_factor ? "give" : "add") +
           " \"scale_factor\": " + factor + " " +
           (scaling.named_factor ? "in" : "to") + " \"define\"";
  }
  return text +
         "give the grid's scale factor on its central meridian as "
         "\"scale_factor\" in \"define\" (helmert-control --grid "
         "EPSG:CODE reads it from PROJ's database)";
}

}  // namespace helmert
