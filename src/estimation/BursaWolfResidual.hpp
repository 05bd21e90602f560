// The residual of one point pair for the solver: the Bursa-Wolf forward map
// of BursaWolf.hpp, templated on the scalar so that Ceres differentiates it
// automatically (forward-mode dual numbers, one derivative per parameter).
#pragma once

#include <ceres/autodiff_cost_function.h>

#include "estimation/BursaWolf.hpp"

namespace helmert {

// Residual of one point pair for the least-squares fit: predicted minus
// observed, r = ForwardTransform(source) - destination, unweighted.
struct BursaWolfResidual {
  BursaWolfResidual(double src_x, double src_y, double src_z, double des_x,
                    double des_y, double des_z)
      : src_x(src_x),
        src_y(src_y),
        src_z(src_z),
        des_x(des_x),
        des_y(des_y),
        des_z(des_z) {}

  // Seven parameters in the fixed order, one scalar each; three residuals.
  template <typename T>
  bool operator()(const T* const t_x, const T* const t_y, const T* const t_z,
                  const T* const r_x, const T* const r_y, const T* const r_z,
                  const T* const scale, T* residual) const {
    T predicted[3];
    ApplyBursaWolf(*t_x, *t_y, *t_z, *r_x, *r_y, *r_z, *scale, src_x, src_y,
                   src_z, predicted);
    // Predicted minus observed.
    residual[0] = predicted[0] - des_x;
    residual[1] = predicted[1] - des_y;
    residual[2] = predicted[2] - des_z;
    return true;
  }

  // A new cost function that owns a new functor; the caller takes it over.
  static ceres::CostFunction* Create(double src_x, double src_y, double src_z,
                                     double des_x, double des_y, double des_z) {
    return new ceres::AutoDiffCostFunction<BursaWolfResidual, 3, 1, 1, 1, 1, 1,
                                           1, 1>(
        new BursaWolfResidual(src_x, src_y, src_z, des_x, des_y, des_z));
  }

  const double src_x;  // projected source point (metres)
  const double src_y;
  const double src_z;
  const double des_x;  // destination point (metres)
  const double des_y;
  const double des_z;
};

}  // namespace helmert
