// A grid's projection read from PROJ's database by its code (EPSG:27700):
// what helmert-fit needs to know of a transverse Mercator grid, its central
// meridian and the scale factor on it. The false easting, false northing
// and latitude of origin are not needed: the fit's translation absorbs
// them.
#pragma once

#include <string>

namespace helmert {

struct GridDefinition {
  std::string code;  // as the database names it: "EPSG:27700"
  std::string name;  // "OSGB36 / British National Grid"
  double central_meridian_degrees = 0.0;
  double scale_factor = 1.0;
  // The grid's axes point west and south (Transverse Mercator (South
  // Orientated), South Africa's Lo zones).
  bool west_south = false;
  // One line for the console: "OSGB36 / British National Grid: transverse
  // Mercator, central meridian -2, scale factor 0.9996012717".
  std::string Description() const;
};

// The projected grid of `code` ("EPSG:27700", "epsg:27700" or "27700";
// any authority PROJ's database knows, "ESRI:102100"), through libproj. A
// compound system (a grid with a height system) is read by its grid.
// Throws Error naming the code and the grid for a code PROJ does not know,
// a system that is not a projected grid, a projection other than
// transverse Mercator ("EPSG:2056 CH1903+ / LV95 is an oblique Mercator
// grid; this model needs a transverse Mercator zone"), and coordinates in
// a unit other than the metre.
GridDefinition ReadGridDefinition(const std::string& code);

}  // namespace helmert
