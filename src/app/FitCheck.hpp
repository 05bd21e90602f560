// The fit check report: how well the fitted parameters reproduce the control
// points, in two passes that only print.
#pragma once

#include <ostream>
#include <vector>

#include "common/Point3.hpp"
#include "estimation/BursaWolf.hpp"
#include "geodesy/GaussKruger.hpp"

namespace helmert {

// Pass 1, one line per projected source point: "水平残差： " h "\t"
// "垂直残差" v, where (r_x, r_y, v) = ForwardTransform(projected point i) -
// destination point i and h = sqrt(r_y^2 + r_x^2) (metres), in the stream's
// current (default) format.
//
// Pass 2, one line per destination point: the point mapped back with
// ReverseTransform and the zone's inverse series (ZoneInverse)
// against source point j of the document: "经纬度残差：" dlon " " dlat " " dh
// "\t" lon'"-->"lon " " lat'"-->"lat " " h'"-->"h (degrees, degrees, metres).
// Every such line switches the stream to fixed notation with 10 decimals,
// which stays in force afterwards.
//
// Labels are GBK bytes. All lists are equally long.
void PrintFitCheck(const TransformParameters& parameters,
                   const Zone& zone,
                   const std::vector<GeodeticPoint>& source,
                   const std::vector<Point3>& projected_source,
                   const std::vector<Point3>& destination, std::ostream& out);

// The two passes of PrintFitCheck, each on its own.
void PrintPlaneResiduals(const TransformParameters& parameters,
                         const std::vector<Point3>& projected_source,
                         const std::vector<Point3>& destination,
                         std::ostream& out);
void PrintGeodeticResiduals(const TransformParameters& parameters,
                            const Zone& zone,
                            const std::vector<GeodeticPoint>& source,
                            const std::vector<Point3>& destination,
                            std::ostream& out);

}  // namespace helmert
