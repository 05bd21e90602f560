// A grid's definition from PROJ's database (libproj's ISO 19111 C API):
// the projected CRS, its conversion (the map projection and its EPSG
// parameters: 8802 longitude of natural origin, 8805 scale factor at
// natural origin) and its coordinate system's axes (unit and direction).
#include "control/GridByCode.hpp"

#include <proj.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <memory>

#include "common/Error.hpp"
#include "io/JsonText.hpp"

namespace helmert {

namespace {

// EPSG's codes of the methods and parameters read here.
constexpr const char* kTransverseMercator = "9807";
constexpr const char* kTransverseMercatorSouth = "9808";
constexpr const char* kLongitudeOfOrigin = "8802";
constexpr const char* kScaleFactorAtOrigin = "8805";

// Owns a PROJ context (with its messages kept off the console) and the
// objects made in it.
class ProjSession {
 public:
  ProjSession() : context_(proj_context_create()) {
    if (context_ == nullptr) throw Error("PROJ could not be started");
    proj_log_level(context_, PJ_LOG_NONE);
  }
  ~ProjSession() { proj_context_destroy(context_); }
  ProjSession(const ProjSession&) = delete;
  ProjSession& operator=(const ProjSession&) = delete;
  PJ_CONTEXT* context() const { return context_; }

 private:
  PJ_CONTEXT* context_;
};

struct ObjectRelease {
  void operator()(PJ* object) const { proj_destroy(object); }
};
using Object = std::unique_ptr<PJ, ObjectRelease>;

// The projection's kind as a surveyor names it, with its article.
std::string ProjectionKind(const std::string& method) {
  const auto has = [&](const char* word) {
    return method.find(word) != std::string::npos;
  };
  if (has("Oblique Mercator")) return "an oblique Mercator grid";
  if (has("Stereographic")) return "a stereographic grid";
  if (has("Lambert Conic Conformal")) return "a Lambert conformal conic grid";
  if (has("Mercator")) return "a Mercator grid";
  if (has("Cassini")) return "a Cassini-Soldner grid";
  if (has("Albers")) return "an Albers equal-area grid";
  return "a grid in the " + method + " projection";
}

// An angle parameter in degrees, from its value and unit: the unit's
// factor takes it to radians.
double Degrees(double value, double to_radians, const std::string& unit) {
  if (unit == "degree") return value;
  return value * to_radians / (M_PI / 180.0);
}

}  // namespace

std::string GridDefinition::Description() const {
  return name + ": transverse Mercator" +
         (west_south ? " (south-orientated: westing, southing)" : "") +
         ", central meridian " + ShortestNumberText(central_meridian_degrees) +
         ", scale factor " + ShortestNumberText(scale_factor);
}

GridDefinition ReadGridDefinition(const std::string& code) {
  std::string authority = "EPSG";
  std::string number = code;
  const std::size_t colon = code.find(':');
  if (colon != std::string::npos) {
    authority = code.substr(0, colon);
    number = code.substr(colon + 1);
  }
  for (char& c : authority) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string named = authority + ":" + number;
  if (authority.empty() || number.empty()) {
    throw Error("--grid " + code + ": not a code such as EPSG:27700");
  }
  ProjSession session;
  PJ_CONTEXT* context = session.context();
  Object crs(proj_create_from_database(context, authority.c_str(),
                                       number.c_str(), PJ_CATEGORY_CRS, 0,
                                       nullptr));
  if (!crs) {
    throw Error("--grid " + code + ": PROJ's database knows no system " +
                named);
  }
  if (proj_get_type(crs.get()) == PJ_TYPE_COMPOUND_CRS) {
    Object horizontal(proj_crs_get_sub_crs(context, crs.get(), 0));
    if (horizontal) crs = std::move(horizontal);
  }
  GridDefinition grid;
  grid.code = named;
  const char* name = proj_get_name(crs.get());
  grid.name = name != nullptr ? name : named;
  const std::string which = named + " " + grid.name;
  if (proj_get_type(crs.get()) != PJ_TYPE_PROJECTED_CRS) {
    throw Error(which +
                " is not a projected grid (easting and northing); name the "
                "grid's projected system");
  }
  Object conversion(proj_crs_get_coordoperation(context, crs.get()));
  const char* method_name = nullptr;
  const char* method_authority = nullptr;
  const char* method_code = nullptr;
  if (!conversion ||
      !proj_coordoperation_get_method_info(context, conversion.get(),
                                           &method_name, &method_authority,
                                           &method_code)) {
    throw Error(which + ": PROJ gives no projection for it");
  }
  const std::string method = method_name != nullptr ? method_name : "";
  const std::string method_number = method_code != nullptr ? method_code : "";
  grid.west_south = method_number == kTransverseMercatorSouth;
  if (method_number != kTransverseMercator && !grid.west_south) {
    throw Error(which + " is " + ProjectionKind(method) +
                "; this model needs a transverse Mercator zone");
  }
  bool meridian_found = false;
  bool scale_found = false;
  const int count = proj_coordoperation_get_param_count(context,
                                                        conversion.get());
  for (int k = 0; k < count; ++k) {
    const char* parameter_code = nullptr;
    double value = 0.0;
    double to_si = 0.0;
    const char* unit = nullptr;
    if (!proj_coordoperation_get_param(context, conversion.get(), k, nullptr,
                                       nullptr, &parameter_code, &value,
                                       nullptr, &to_si, &unit, nullptr,
                                       nullptr, nullptr) ||
        parameter_code == nullptr) {
      continue;
    }
    const std::string parameter = parameter_code;
    if (parameter == kLongitudeOfOrigin) {
      grid.central_meridian_degrees =
          Degrees(value, to_si, unit != nullptr ? unit : "");
      meridian_found = true;
    } else if (parameter == kScaleFactorAtOrigin) {
      grid.scale_factor = value;
      scale_found = true;
    }
  }
  if (!meridian_found || !scale_found ||
      !(std::fabs(grid.central_meridian_degrees) <= 180.0)) {
    throw Error(which + ": PROJ gives no central meridian and scale factor "
                        "for its transverse Mercator projection");
  }
  Object system(proj_crs_get_coordinate_system(context, crs.get()));
  double metres_per_unit = 1.0;
  const char* unit = nullptr;
  if (system && proj_cs_get_axis_info(context, system.get(), 0, nullptr,
                                      nullptr, nullptr, &metres_per_unit,
                                      &unit, nullptr, nullptr) &&
      metres_per_unit != 1.0) {
    throw Error(which + " gives its coordinates in " +
                (unit != nullptr ? unit : "another unit") + " (" +
                ShortestNumberText(metres_per_unit) +
                " m): give the grid list in metres, and name the grid with "
                "--central-meridian " +
                ShortestNumberText(grid.central_meridian_degrees) +
                " --scale-factor " + ShortestNumberText(grid.scale_factor));
  }
  return grid;
}

}  // namespace helmert
