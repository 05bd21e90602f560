// Writes a control-point document of N points for the scaling benchmark and
// the projected pairs that helmert-fit will fit from it:
//
//   make_scaling_document N DOCUMENT.json PAIRS.bin [prefixed]
//
// The points are spread over about 50 x 65 km around the Ordos example; the
// destinations are a survey-like similarity of their projections plus
// centimetre noise, rounded to the millimetre. PAIRS.bin holds, per point,
// six doubles: the projected source point (as the tool computes it from the
// document's text) and the destination point. With "prefixed" the
// destination eastings carry the zone number 37 in front (37 000 000 m
// more), as Chinese grids are written.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Synthetic.hpp"
#include "estimation/BursaWolf.hpp"
#include "geodesy/Constants.hpp"
#include "geodesy/GaussKruger.hpp"
#include "io/ControlPointDocument.hpp"

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "prefixed")) {
    std::fprintf(stderr,
                 "usage: make_scaling_document N DOCUMENT PAIRS [prefixed]\n");
    return 1;
  }
  // The zone number in front of the easting, in metres.
  const double easting_prefix = argc == 5 ? 37000000.0 : 0.0;
  const long n = std::strtol(argv[1], nullptr, 10);
  helmert::bench::UniformNoise uniform(42);
  const helmert::TransformParameters truth =
      helmert::bench::kSurveyLikeSimilarity;

  std::string source_text, destination_text;
  char number[96];
  for (long i = 0; i < n; ++i) {
    const double longitude = 110.4 + 0.3 * uniform();
    const double latitude = 38.7 + 0.3 * uniform();
    const double height = 1300.0 + 100.0 * uniform();
    std::snprintf(number, sizeof number, "%s%.7f,%.7f,%.3f", i ? "," : "",
                  longitude, latitude, height);
    source_text += number;
    const helmert::PlanePair plane = helmert::GaussKrugerForward(
        {longitude, latitude}, 111.0, helmert::kFalseEasting,
        helmert::kFalseNorthing, helmert::kWgs84SemiMajorAxis,
        helmert::kWgs84Flattening);
    const helmert::Point3 mapped = helmert::ForwardTransform(
        truth, {plane.easting, plane.northing, height});
    std::snprintf(number, sizeof number, "%s%.3f,%.3f,%.3f", i ? "," : "",
                  mapped.x + easting_prefix + 0.01 * uniform(),
                  mapped.y + 0.01 * uniform(), mapped.z + 0.01 * uniform());
    destination_text += number;
  }
  const std::string document = "{\"define\":{\"srcpoints\":[" + source_text +
                               "],\"despoints\":[" + destination_text + "]}}\n";
  std::FILE* file = std::fopen(argv[2], "wb");
  if (file == nullptr) return 2;
  std::fwrite(document.data(), 1, document.size(), file);
  std::fclose(file);

  // The pairs exactly as the tool forms them from the document's text.
  const helmert::ControlPoints points =
      helmert::ParseControlPointDocument(document, argv[2]);
  const double central_meridian = helmert::SelectCentralMeridian(points.source);
  const std::vector<helmert::Point3> projected =
      helmert::ProjectToZone(points.source, central_meridian);
  std::vector<double> pairs;
  pairs.reserve(6 * projected.size());
  for (std::size_t i = 0; i < projected.size(); ++i) {
    const helmert::Point3& s = projected[i];
    const helmert::Point3& d = points.destination[i];
    pairs.insert(pairs.end(), {s.x, s.y, s.z, d.x, d.y, d.z});
  }
  file = std::fopen(argv[3], "wb");
  if (file == nullptr) return 2;
  std::fwrite(pairs.data(), sizeof(double), pairs.size(), file);
  std::fclose(file);
  return 0;
}
