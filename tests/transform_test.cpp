// helmert-transform: the tools' own mapping both ways against the fit and
// its console, the round trip over a whole zone, the precision against a
// direct computation, the extent, and the refusals.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "estimation/BursaWolf.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"
#include "transform/Transformation.hpp"

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ReadFile;
using testing::RunProgram;
using testing::TemporaryDirectory;
using testing::WriteFile;

const std::string kTransform = HELMERT_TRANSFORM_EXECUTABLE;
const std::string kFit = HELMERT_FIT_EXECUTABLE;
const std::string kExamples = HELMERT_EXAMPLES;
const std::string kData = HELMERT_TEST_DATA;
const std::string kResult = kData + "/golden/ordos.result.json";
const std::string kControl = kExamples + "/ordos.json";

constexpr double kOutputMetres = 0.5e-4;     // the output's 0.1 mm rounding
constexpr double kOutputDegrees = 0.5e-9;    // its 1e-9 degrees
constexpr double kHundredthMillimetre = 1e-5;  // metres

// The rows of a comma-separated text, split at commas (no quotes).
std::vector<std::vector<std::string>> Rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, ',');) {
      fields.push_back(field);
    }
    if (!line.empty() && line.back() == ',') fields.push_back("");
    rows.push_back(fields);
  }
  return rows;
}

class TransformToolTest : public ::testing::Test {
 protected:
  TransformToolTest()
      : stored_(ParseResultDocument(ReadFile(kResult), kResult)),
        points_(ParseControlPointDocument(ReadFile(kControl), kControl)) {}
  StoredTransformation stored_;
  ControlPoints points_;
  TemporaryDirectory directory_;
};

// To the grid, the control points differ from the grid list by exactly
// the fit's residuals: the mapping is the fit's own.
TEST_F(TransformToolTest, ControlPointsGoWhereTheFitPutsThem) {
  const ProcessResult run =
      RunProgram(kTransform, {kResult, "--to-grid", kExamples + "/ordos-wgs84.csv"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "helmert-transform: 16 points to the grid\n");
  const auto rows = Rows(run.out);
  ASSERT_EQ(rows.size(), 17u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"name", "easting", "northing",
                                               "height"}));
  // The example's lists hold the points in the document's order.
  for (std::size_t i = 0; i < points_.source.size(); ++i) {
    const Point3 predicted = ForwardTransform(
        stored_.parameters,
        ProjectToZone({points_.source[i]}, stored_.zone()).front());
    EXPECT_NEAR(std::stod(rows[i + 1][1]), predicted.x, kOutputMetres) << i;
    EXPECT_NEAR(std::stod(rows[i + 1][2]), predicted.y, kOutputMetres) << i;
    EXPECT_NEAR(std::stod(rows[i + 1][3]), predicted.z, kOutputMetres) << i;
  }
}

// Back to WGS84, the grid list agrees with the fit check's back-mapped
// longitudes, latitudes and heights as helmert-fit's console prints them.
TEST_F(TransformToolTest, GridPointsGoBackAsTheFitCheckPrintsThem) {
  const ProcessResult fit =
      RunProgram(kFit, {kControl, directory_.Path("r.json")});
  ASSERT_EQ(fit.exit_status, 0);
  std::vector<std::vector<double>> printed;  // lon', lat', h' per point
  std::istringstream lines(fit.out);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (line.find("-->") == std::string::npos || tab == std::string::npos) {
      continue;
    }
    std::istringstream values(line.substr(tab + 1));
    std::vector<double> back;
    for (std::string pair; values >> pair;) {
      back.push_back(std::stod(pair.substr(0, pair.find("-->"))));
    }
    printed.push_back(back);
  }
  ASSERT_EQ(printed.size(), 16u);
  const ProcessResult run = RunProgram(
      kTransform, {kResult, "--to-wgs84", kExamples + "/ordos-grid.csv"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const auto rows = Rows(run.out);
  // The grid list is sorted by name; its rows are matched by name to the
  // document's points, whose order the console follows.
  const auto wgs84_rows = Rows(ReadFile(kExamples + "/ordos-wgs84.csv"));
  for (std::size_t r = 1; r < rows.size(); ++r) {
    std::size_t index = 0;
    while (wgs84_rows[index + 1][0] != rows[r][0]) ++index;
    EXPECT_NEAR(std::stod(rows[r][1]), printed[index][1], 1e-9) << rows[r][0];
    EXPECT_NEAR(std::stod(rows[r][2]), printed[index][0], 1e-9) << rows[r][0];
    EXPECT_NEAR(std::stod(rows[r][3]), printed[index][2], 1e-4) << rows[r][0];
  }
}

// Grid to WGS84 and back returns within 0.01 mm anywhere in a zone:
// latitudes 0 to 70, up to 3.5 degrees from the meridian, with and without
// a scale factor. (The zone's inverse series alone misses by up to about
// a millimetre at 3.5 degrees.)
TEST(PointTransformer, RoundTripOverAWholeZone) {
  std::mt19937_64 random(10000);
  std::uniform_real_distribution<double> latitude(0.0, 70.0);
  std::uniform_real_distribution<double> offset(-3.5, 3.5);
  for (const std::optional<double> k0 : {std::optional<double>(),
                                         std::optional<double>(0.9996)}) {
    StoredTransformation stored;
    stored.parameters = testing::kSurveyParameters;
    stored.zone_from_grid_rotation = InverseRotationMatrix(
        stored.parameters.R_x, stored.parameters.R_y, stored.parameters.R_z);
    stored.central_meridian_degrees = 111.0;
    stored.scale_factor = k0;
    const PointTransformer transformer(stored);
    double worst = 0.0;
    for (int i = 0; i < 10000; ++i) {
      const GeodeticPoint p{111.0 + offset(random), latitude(random), 500.0};
      const Point3 grid = transformer.ToGrid(p);
      const Point3 again = transformer.ToGrid(transformer.ToWgs84(grid));
      worst = std::max(worst, std::hypot(again.x - grid.x, again.y - grid.y,
                                         again.z - grid.z));
    }
    EXPECT_LE(worst, kHundredthMillimetre) << (k0 ? "k0 0.9996" : "k0 1");
  }
}

// The standard deviation of a transformed coordinate is
// sigma0 sqrt(J Q J^T), J the map's derivative with respect to the seven
// parameters at the point (here by central differences) and Q the
// cofactor matrix of the parameters (here from the same differences at the
// control points).
TEST_F(TransformToolTest, PrecisionIsSigma0TimesTheRootOfJQJ) {
  const ControlKnowledge knowledge =
      KnowledgeFromControl(points_, kControl, stored_, kResult);
  const std::vector<Point3> zone = ProjectToZone(points_.source, stored_.zone());
  const TransformParameters& p = stored_.parameters;
  const auto numeric_jacobian = [&](const Point3& at) {
    Eigen::Matrix<double, 3, 7> j;
    const double steps[7] = {1e-3, 1e-3, 1e-3, 1e-9, 1e-9, 1e-9, 1e-9};
    for (int k = 0; k < 7; ++k) {
      TransformParameters up = p;
      TransformParameters down = p;
      double* const u[7] = {&up.T_x, &up.T_y, &up.T_z, &up.R_x,
                            &up.R_y, &up.R_z, &up.Scale};
      double* const d[7] = {&down.T_x, &down.T_y, &down.T_z, &down.R_x,
                            &down.R_y, &down.R_z, &down.Scale};
      *u[k] += steps[k];
      *d[k] -= steps[k];
      const Point3 a = ForwardTransform(up, at);
      const Point3 b = ForwardTransform(down, at);
      j.col(k) << (a.x - b.x) / (2 * steps[k]), (a.y - b.y) / (2 * steps[k]),
          (a.z - b.z) / (2 * steps[k]);
    }
    return j;
  };
  Eigen::MatrixXd design(3 * zone.size(), 7);
  double squares = 0.0;
  for (std::size_t i = 0; i < zone.size(); ++i) {
    design.middleRows<3>(3 * i) = numeric_jacobian(zone[i]);
    const Point3 r = ForwardTransform(p, zone[i]);
    const Point3& d = points_.destination[i];
    squares += (r.x - d.x) * (r.x - d.x) + (r.y - d.y) * (r.y - d.y) +
               (r.z - d.z) * (r.z - d.z);
  }
  // Columns scaled before the inversion: they differ by a factor of 1e7.
  const Eigen::VectorXd scale = design.colwise().norm().cwiseInverse();
  const Eigen::MatrixXd scaled = design * scale.asDiagonal();
  const Eigen::MatrixXd q = scale.asDiagonal() *
                            (scaled.transpose() * scaled).inverse() *
                            scale.asDiagonal();
  const double sigma0 = std::sqrt(squares / (3.0 * zone.size() - 7.0));
  for (const Point3& at : {zone[3], Point3{460000.0, 4300000.0, 1500.0}}) {
    const Eigen::Matrix<double, 3, 7> j = numeric_jacobian(at);
    const Eigen::Vector3d expected =
        sigma0 * (j * q * j.transpose()).diagonal().cwiseSqrt();
    const Eigen::Vector3d sigma = knowledge.precision.OfGridPoint(at);
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(sigma(c), expected(c), 1e-4 * expected(c)) << c;
    }
  }
}

// A point 10 km east of the easternmost control point lies 10 km outside
// the control area (no point of the hull lies farther east); the control
// points themselves are inside.
TEST_F(TransformToolTest, APointOutsideTheControlAreaIsMarkedWithItsDistance) {
  std::size_t east = 0;
  for (std::size_t i = 0; i < points_.destination.size(); ++i) {
    if (points_.destination[i].x > points_.destination[east].x) east = i;
  }
  const Point3 far{points_.destination[east].x + 10000.0,
                   points_.destination[east].y, 1300.0};
  const std::string input = directory_.Path("grid.csv");
  WriteFile(input, "name,easting,northing,height\nBM04,456613.965,"
                   "4293333.515,1378.61\nFAR," +
                       std::to_string(far.x) + "," + std::to_string(far.y) +
                       ",1300\n");
  const ProcessResult run = RunProgram(
      kTransform, {kResult, "--to-wgs84", input, "--control", kControl});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  const auto rows = Rows(run.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].back(), "outside");
  EXPECT_EQ(rows[1].back(), "");
  EXPECT_NEAR(std::stod(rows[2].back()), 10000.0, 0.05);
  EXPECT_NE(run.err.find("; 1 outside the control area (up to 10.0 km); "),
            std::string::npos)
      << run.err;
}

// A filter: standard input to standard output, every other column kept.
TEST_F(TransformToolTest, FiltersStandardInputKeepingTheOtherColumns) {
  const ProcessResult run = RunProgram(
      kTransform, {kResult, "--to-grid", "-", "-"},
      "code,lat,name,lon,h,note\nX1,38.8038589,BM01,110.4077229,1310.71,"
      "\"a, quoted note\"\n");
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out,
            "code,easting,name,northing,height,note\n"
            "X1,448507.7163,BM01,4296938.8451,1368.1564,\"a, quoted note\"\n");
}

struct RefusalCase {
  const char* name;
  std::string input;
  std::vector<std::string> options;
  std::string message;  // after "{in}" where it starts with ":"
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class TransformRefusalTest : public ::testing::TestWithParam<RefusalCase> {
 protected:
  TemporaryDirectory directory_;
};

// One line naming what is wrong; the output file is not touched.
TEST_P(TransformRefusalTest, SaysWhatAndTouchesNoOutput) {
  const std::string input = directory_.Path("in.csv");
  const std::string output = directory_.Path("out.csv");
  WriteFile(input, GetParam().input);
  WriteFile(output, "old");
  std::vector<std::string> arguments = {kResult};
  for (const std::string& option : GetParam().options) {
    arguments.push_back(option);
  }
  arguments.push_back(input);
  arguments.push_back(output);
  const ProcessResult run = RunProgram(kTransform, arguments);
  EXPECT_EQ(run.exit_status, 2);
  std::string message = GetParam().message;
  if (message[0] == ':') message = input + message;
  EXPECT_EQ(run.err, message + "\n");
  EXPECT_EQ(ReadFile(output), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, TransformRefusalTest,
    ::testing::Values(
        RefusalCase{"NotAnAngle",
                    "name,lat,lon,h\nA,38.8,110.4,1300\nB,38.8x,110.4,1300\n",
                    {"--to-grid"},
                    ":3: column \"lat\": \"38.8x\" is not an angle"},
        RefusalCase{"BeyondTheZonesSeries",
                    "name,lat,lon,h\nA,38.8,115.2,1300\n",
                    {"--to-grid"},
                    ":2: column \"lon\": longitude 115.2 is 4.20 degrees from "
                    "the zone's central meridian 111; the zone's series is "
                    "used only within 3.5 degrees"},
        RefusalCase{"NoNorthingColumn", "name,easting,height\nA,1,2\n",
                    {"--to-wgs84"},
                    ":1: no column for the northing (a header \"n\" or "
                    "\"northing\")"},
        RefusalCase{"ControlOfAnotherFit",
                    "name,lat,lon,h\nA,38.8,110.4,1300\n",
                    {"--to-grid", "--control", kData + "/ordos-check4.json"},
                    kResult + ": the transformation is not the least-squares "
                              "fit to the points of " +
                        kData +
                        "/ordos-check4.json, so their precision is not its"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace helmert
