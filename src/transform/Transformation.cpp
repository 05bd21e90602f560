#include "transform/Transformation.hpp"

#include <Eigen/LU>
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/Error.hpp"
#include "estimation/BursaWolf.hpp"
#include "statistics/Assessment.hpp"

namespace helmert {

PointTransformer::PointTransformer(const StoredTransformation& stored)
    : stored_(stored), zone_(stored.zone()) {}

Point3 PointTransformer::ToGrid(const GeodeticPoint& wgs84,
                                Point3* zone) const {
  const PlanePair plane =
      ZoneForward({wgs84.longitude_degrees, wgs84.latitude_degrees}, zone_);
  const Point3 zone_point{plane.easting, plane.northing, wgs84.height_metres};
  if (zone != nullptr) *zone = zone_point;
  return ForwardTransform(stored_.parameters, zone_point);
}

GeodeticPoint PointTransformer::ToWgs84(const Point3& grid,
                                        Point3* zone) const {
  const Point3 zone_point = ReverseTransform(
      stored_.parameters, stored_.zone_from_grid_rotation, grid);
  if (zone != nullptr) *zone = zone_point;
  const GeodeticPair geodetic =
      ZoneInverseExact({zone_point.x, zone_point.y}, zone_);
  return {WrapLongitude(geodetic.longitude_degrees), geodetic.latitude_degrees,
          zone_point.z};
}

double PointTransformer::DegreesFromMeridian(double longitude_degrees) const {
  return std::fabs(ReduceLongitudeDifference(longitude_degrees -
                                             zone_.central_meridian_degrees));
}

TransformPrecision::TransformPrecision(
    const TransformParameters& parameters,
    const Eigen::Matrix<double, 7, 7>& covariance)
    : parameters_(parameters), covariance_(covariance) {
  zone_from_grid_ = (parameters.Scale * RotationMatrix(parameters.R_x,
                                                        parameters.R_y,
                                                        parameters.R_z))
                        .inverse();
}

Eigen::Vector3d TransformPrecision::OfGridPoint(const Point3& zone) const {
  const JacobianRows j = BursaWolfJacobian(parameters_, zone);
  return (j * covariance_ * j.transpose()).diagonal().cwiseMax(0.0).cwiseSqrt();
}

Eigen::Vector3d TransformPrecision::OfZonePoint(const Point3& zone) const {
  // grid = F(theta, zone) held fixed: d zone / d theta = -(S M)^-1 J.
  const Eigen::Matrix<double, 3, 7> j =
      zone_from_grid_ * BursaWolfJacobian(parameters_, zone);
  return (j * covariance_ * j.transpose()).diagonal().cwiseMax(0.0).cwiseSqrt();
}

namespace {

double Cross(const Eigen::Vector2d& o, const Eigen::Vector2d& a,
             const Eigen::Vector2d& b) {
  return (a.x() - o.x()) * (b.y() - o.y()) - (a.y() - o.y()) * (b.x() - o.x());
}

// Distance from p to the segment a-b.
double SegmentDistance(const Eigen::Vector2d& p, const Eigen::Vector2d& a,
                       const Eigen::Vector2d& b) {
  const Eigen::Vector2d ab = b - a;
  const double length = ab.squaredNorm();
  const double t =
      length > 0.0 ? std::clamp((p - a).dot(ab) / length, 0.0, 1.0) : 0.0;
  return (p - (a + t * ab)).norm();
}

}  // namespace

ControlArea::ControlArea(const std::vector<Point3>& points) {
  // Andrew's monotone chain, about the first point so that the cross
  // products do not drown in coordinates of millions of metres.
  std::vector<Eigen::Vector2d> sorted;
  for (const Point3& p : points) sorted.emplace_back(p.x, p.y);
  std::sort(sorted.begin(), sorted.end(),
            [](const Eigen::Vector2d& a, const Eigen::Vector2d& b) {
              return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
            });
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  if (sorted.size() < 3) {
    hull_ = sorted;
    return;
  }
  std::vector<Eigen::Vector2d> hull(2 * sorted.size());
  std::size_t k = 0;
  for (const Eigen::Vector2d& p : sorted) {
    while (k >= 2 && Cross(hull[k - 2], hull[k - 1], p) <= 0.0) --k;
    hull[k++] = p;
  }
  for (std::size_t i = sorted.size() - 1, lower = k + 1; i-- > 0;) {
    const Eigen::Vector2d& p = sorted[i];
    while (k >= lower && Cross(hull[k - 2], hull[k - 1], p) <= 0.0) --k;
    hull[k++] = p;
  }
  hull.resize(k - 1);
  hull_ = hull;
}

double ControlArea::DistanceOutside(double x, double y) const {
  const Eigen::Vector2d p(x, y);
  if (hull_.empty()) return 0.0;
  if (hull_.size() == 1) return (p - hull_[0]).norm();
  bool inside = hull_.size() >= 3;
  double nearest = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < hull_.size(); ++i) {
    const Eigen::Vector2d& a = hull_[i];
    const Eigen::Vector2d& b = hull_[(i + 1) % hull_.size()];
    if (Cross(a, b, p) < 0.0) inside = false;
    nearest = std::min(nearest, SegmentDistance(p, a, b));
  }
  return inside ? 0.0 : nearest;
}

ControlKnowledge KnowledgeFromControl(const ControlPoints& points,
                                      const std::string& control_path,
                                      const StoredTransformation& stored,
                                      const std::string& result_path) {
  const Zone zone = ZoneOf(points);
  const Zone stored_zone = stored.zone();
  if (zone.central_meridian_degrees != stored_zone.central_meridian_degrees ||
      zone.scale_factor != stored_zone.scale_factor) {
    throw Error(result_path + ": its zone is not that of the control points of " +
                control_path + " (another central meridian or scale factor): " +
                "the transformation was not fitted to them");
  }
  const std::vector<Point3> projected = ProjectToZone(points.source, zone);
  const Assessment fitted =
      AssessTransformation(stored.parameters, projected, points.destination);
  if (!fitted.fitted_points || !fitted.precision) {
    throw Error(result_path +
                ": the transformation is not the least-squares fit to the "
                "points of " +
                control_path + ", so their precision is not its");
  }
  return {TransformPrecision(stored.parameters, fitted.precision->covariance),
          ControlArea(points.destination)};
}

}  // namespace helmert
