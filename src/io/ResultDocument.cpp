#include "io/ResultDocument.hpp"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "common/Error.hpp"
#include "io/JsonText.hpp"

namespace helmert {

namespace {

void WriteDouble(rapidjson::Writer<rapidjson::StringBuffer>& writer,
                 double value, const char* member) {
  // The writer refuses non-finite values and writes no digits for them.
  if (!writer.Double(value)) {
    throw Error(std::string("the result member \"") + member +
                "\" is not a finite number");
  }
}

const JsonValue& RequireMember(const JsonValue& root, const char* name,
                               const std::string& path) {
  const auto member = root.FindMember(name);
  if (member == root.MemberEnd()) {
    throw Error(path + ": the document has no member \"" + name + "\"");
  }
  return member->value;
}

// The numbers of the array member `name`, which must hold exactly `count`.
std::vector<double> RequireNumbers(const JsonValue& root, const char* name,
                                   rapidjson::SizeType count,
                                   const std::string& path) {
  const JsonValue& array = RequireMember(root, name, path);
  const std::string where = path + ": \"" + name + "\"";
  if (!array.IsArray()) throw Error(where + " is not an array");
  if (array.Size() != count) {
    throw Error(where + " holds " + std::to_string(array.Size()) +
                " elements, not " + std::to_string(count));
  }
  std::vector<double> numbers;
  for (rapidjson::SizeType i = 0; i < count; ++i) {
    if (!array[i].IsNumber()) {
      throw Error(where + " element " + std::to_string(i + 1) +
                  " is not a number");
    }
    numbers.push_back(array[i].GetDouble());
  }
  return numbers;
}

double RequireNumber(const JsonValue& root, const char* name,
                     const std::string& path) {
  const JsonValue& value = RequireMember(root, name, path);
  if (!value.IsNumber()) {
    throw Error(path + ": \"" + name + "\" is not a number");
  }
  return value.GetDouble();
}

}  // namespace

StoredTransformation ParseResultDocument(const std::string& text,
                                         const std::string& path) {
  JsonDocument document;
  ParseJsonObject(text, path, document);
  StoredTransformation stored;
  const std::vector<double> r = RequireNumbers(document, "R", 9, path);
  for (int i = 0; i < 9; ++i) {
    stored.zone_from_grid_rotation(i / 3, i % 3) = r[i];
  }
  const std::vector<double> t = RequireNumbers(document, "T", 3, path);
  TransformParameters& parameters = stored.parameters;
  parameters.T_x = t[0];
  parameters.T_y = t[1];
  parameters.T_z = t[2];
  parameters.Scale = RequireNumber(document, "S", path);
  if (!(parameters.Scale > 0.0)) {
    throw Error(path + ": \"S\" is not a positive scale factor");
  }
  const double l0 = RequireNumber(document, "L0", path);
  // Any meridian: a grid whose central meridian the control-point document
  // named need not be a 3-degree zone's.
  if (!(std::fabs(l0) <= 180.0)) {
    throw Error(path + ": \"L0\" is not a central meridian within [-180, 180]");
  }
  stored.central_meridian_degrees = l0;
  if (document.HasMember("k0")) {
    const double k0 = RequireNumber(document, "k0", path);
    if (!(k0 >= 0.99 && k0 <= 1.01)) {
      throw Error(path +
                  ": \"k0\" is not a scale factor within [0.99, 1.01]");
    }
    stored.scale_factor = k0;
  }

  const RecoveredAngles angles =
      AnglesFromInverseRotation(stored.zone_from_grid_rotation);
  if (!angles.invertible) {
    throw Error(path + ": \"R\" is a singular matrix");
  }
  parameters.R_x = angles.R_x;
  parameters.R_y = angles.R_y;
  parameters.R_z = angles.R_z;
  if (!(angles.deviation <= kMostRotationMatrixDeviation)) {
    // The deviation as a stream prints it by default ("%g").
    char deviation[32];
    std::snprintf(deviation, sizeof deviation, "%g", angles.deviation);
    throw Error(path +
                ": \"R\" is not the inverse of a linearised rotation matrix"
                " (deviation " +
                deviation + ")");
  }
  return stored;
}

std::string FormatResultDocument(const TransformParameters& parameters,
                                 double central_meridian_degrees,
                                 std::optional<double> scale_factor) {
  const Eigen::Matrix3d inverse =
      InverseRotationMatrix(parameters.R_x, parameters.R_y, parameters.R_z);

  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("R");
  writer.StartArray();
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      WriteDouble(writer, inverse(row, column), "R");
    }
  }
  writer.EndArray();
  writer.Key("T");
  writer.StartArray();
  WriteDouble(writer, parameters.T_x, "T");
  WriteDouble(writer, parameters.T_y, "T");
  WriteDouble(writer, parameters.T_z, "T");
  writer.EndArray();
  writer.Key("S");
  WriteDouble(writer, parameters.Scale, "S");
  writer.Key("L0");
  WriteDouble(writer, central_meridian_degrees, "L0");
  if (scale_factor) {
    writer.Key("k0");
    WriteDouble(writer, *scale_factor, "k0");
  }
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace helmert
