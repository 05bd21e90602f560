// PROJ pipelines equivalent to a result document, for use with PROJ's `cct`
// (and anything else that takes a PROJ string).
//
// Local grid (E, N, h) -> WGS84 (longitude, latitude in degrees, h):
//   +proj=pipeline
//   +step +proj=affine: p_zone = (R / S) p_grid - (R T) / S, the reverse map
//   +step +inv +proj=tmerc +lat_0=0 +lon_0=L0 +k=k0 +x_0=500000 +y_0=0
//         +ellps=WGS84, the zone back to geodetic coordinates (radians);
//         k0 is the result's "k0", 1 without it
//   +step +proj=unitconvert +xy_in=rad +xy_out=deg
// and the reverse pipeline, whose affine step is the forward map
// p_grid = S M p_zone + T with M the linearised rotation matrix of the
// angles. PROJ's helmert step cannot stand in for the affine steps: its
// inverse uses the transpose of the rotation matrix, not its inverse.
//
// PROJ's tmerc is the exact (Poder/Engsager) transverse Mercator; within a
// 3-degree zone it agrees with the Gauss-Krueger series of this tool within
// 0.2 mm up to 40 degrees of latitude and 1 mm up to 70. Every number is
// written with the fewest digits that read back to the same double.
#pragma once

#include <string>

#include "io/ResultDocument.hpp"

namespace helmert {

// Whether the reverse map's affine step, (R / S) and (R T) / S, is finite:
// a scale near the smallest double overflows it.
bool ReverseMapIsFinite(const StoredTransformation& stored);

std::string GridToWgs84Pipeline(const StoredTransformation& stored);
std::string Wgs84ToGridPipeline(const StoredTransformation& stored);

}  // namespace helmert
