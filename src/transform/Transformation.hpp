// A fitted transformation applied to new points, both ways, with the
// tools' own mapping: the zone's forward series (with the result's k0) and
// the seven parameters, the same functions helmert-fit fits with, so that a
// control point taken to the grid is the fit's prediction; and back, the
// reverse map and the exact inverse of that forward series
// (ZoneInverseExact), so that a point taken to WGS84 and back returns to
// itself anywhere in the zone. (The fit check's console lines use the
// zone's inverse series, which misses the forward series by up to about a
// millimetre at 3.5 degrees from the meridian.)
//
// With the control points the transformation was fitted to: the standard
// deviation of each transformed coordinate from the parameters'
// covariance C = sigma0^2 (J^T J)^-1, sqrt(diag(J_p C J_p^T)) with J_p the
// map's 3 x 7 derivative with respect to the parameters at the point; and
// how far a point lies outside the control points' convex hull in plan.
#pragma once

#include <Eigen/Core>
#include <optional>
#include <string>
#include <vector>

#include "common/Point3.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPoints.hpp"
#include "io/ResultDocument.hpp"

namespace helmert {

// The zone's series is used only within this distance of its meridian
// (degrees of longitude), as helmert-report uses it.
inline constexpr double kMostTransformDegreesFromMeridian = 3.5;

class PointTransformer {
 public:
  explicit PointTransformer(const StoredTransformation& stored);

  // The point's grid coordinates (metres) and its zone point.
  Point3 ToGrid(const GeodeticPoint& wgs84, Point3* zone = nullptr) const;
  // The grid point's WGS84 longitude, latitude (degrees, the longitude
  // within (-180, 180]) and ellipsoidal height, and its zone point.
  GeodeticPoint ToWgs84(const Point3& grid, Point3* zone = nullptr) const;
  // How far a longitude (degrees) lies from the zone's meridian.
  double DegreesFromMeridian(double longitude_degrees) const;

  const StoredTransformation& stored() const { return stored_; }

 private:
  StoredTransformation stored_;
  Zone zone_;
};

// The standard deviations of transformed coordinates, from the covariance
// of the parameters (T_x, T_y, T_z, R_x, R_y, R_z, Scale).
class TransformPrecision {
 public:
  TransformPrecision(const TransformParameters& parameters,
                     const Eigen::Matrix<double, 7, 7>& covariance);
  // Of the grid point of a zone point: (sigma_E, sigma_N, sigma_h), metres.
  Eigen::Vector3d OfGridPoint(const Point3& zone) const;
  // Of the zone point of a grid point (the reverse map): the easting's,
  // the northing's and the height's, metres in the zone (the longitude's
  // and the latitude's on the ground, up to the zone's scale).
  Eigen::Vector3d OfZonePoint(const Point3& zone) const;

 private:
  TransformParameters parameters_;
  Eigen::Matrix<double, 7, 7> covariance_;
  Eigen::Matrix3d zone_from_grid_;  // (S M)^-1
};

// The control points' area in plan: their convex hull.
class ControlArea {
 public:
  explicit ControlArea(const std::vector<Point3>& points);
  // How far (metres) the point lies outside the hull in plan; 0 inside or
  // on it.
  double DistanceOutside(double x, double y) const;

 private:
  std::vector<Eigen::Vector2d> hull_;  // counter-clockwise
};

// What --control gives: the precision and the area of the control points
// the transformation was fitted to.
struct ControlKnowledge {
  TransformPrecision precision;
  ControlArea area;
};

// Reads what the control points say about the transformation. Refuses,
// naming both documents, points whose zone is not the result's (another
// central meridian or scale factor) and a transformation that is not the
// least-squares fit to them.
ControlKnowledge KnowledgeFromControl(const ControlPoints& points,
                                      const std::string& control_path,
                                      const StoredTransformation& stored,
                                      const std::string& result_path);

}  // namespace helmert
