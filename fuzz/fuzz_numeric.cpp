// libFuzzer target over the numeric core, fed with arbitrary finite doubles:
// forward and inverse projection, the forward and reverse Bursa-Wolf maps,
// the inverse matrix and the result document, which must always parse back
// as JSON with the four members, every number finite (or be refused with
// Error when a derived value is not finite).
#include <rapidjson/document.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FiniteOutput.hpp"
#include "common/Error.hpp"
#include "estimation/BursaWolf.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ResultDocument.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  constexpr std::size_t kValues = 12;
  if (size < kValues * sizeof(double) + 1) return 0;
  double v[kValues];
  std::memcpy(v, data, sizeof v);
  for (double value : v) {
    if (!std::isfinite(value)) return 0;
  }
  // A central meridian of the kind the zone rule chooses.
  const double central_meridian = 3.0 * (static_cast<int>(data[sizeof v]) - 60);

  const helmert::PlanePair plane = helmert::GaussKrugerForward(
      {v[0], v[1]}, central_meridian, helmert::kFalseEasting,
      helmert::kFalseNorthing, helmert::kWgs84SemiMajorAxis,
      helmert::kWgs84Flattening);
  const helmert::GeodeticPair back = helmert::GaussKrugerInverse(
      plane, central_meridian, helmert::kFalseEasting, helmert::kFalseNorthing,
      helmert::kWgs84SemiMajorAxis, helmert::kWgs84Flattening);
  (void)back;

  helmert::TransformParameters parameters;
  parameters.T_x = v[2];
  parameters.T_y = v[3];
  parameters.T_z = v[4];
  parameters.R_x = v[5];
  parameters.R_y = v[6];
  parameters.R_z = v[7];
  parameters.Scale = v[8];
  const helmert::Point3 mapped =
      helmert::ForwardTransform(parameters, {v[9], v[10], v[11]});
  const helmert::Point3 returned =
      helmert::ReverseTransform(parameters, mapped);
  (void)returned;

  try {
    const std::string text =
        helmert::FormatResultDocument(parameters, central_meridian);
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    if (document.HasParseError() || !document.IsObject() ||
        document.MemberCount() != 4 || !document["R"].IsArray() ||
        document["R"].Size() != 9 || !document["T"].IsArray() ||
        document["T"].Size() != 3 || !document["S"].IsNumber() ||
        document["L0"].GetDouble() != central_meridian ||
        !helmert::fuzzing::AllNumbersFinite(text)) {
      std::abort();
    }
  } catch (const helmert::Error&) {
  }
  return 0;
}
