#include "io/ResultDocument.hpp"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/Error.hpp"

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

}  // namespace

std::string FormatResultDocument(const TransformParameters& parameters,
                                 double central_meridian_degrees) {
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
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

void WriteResultDocument(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::out | std::ios::trunc);
  if (!file.is_open()) {
    throw Error("Error writing file: " + path + ": " + std::strerror(errno));
  }
  errno = 0;
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.flush();
  if (!file) {
    throw Error("Error writing file: " + path + ": " +
                (errno != 0 ? std::strerror(errno) : "write failed"));
  }
  file.close();
  if (!file) {
    throw Error("Error writing file: " + path + ": " +
                (errno != 0 ? std::strerror(errno) : "close failed"));
  }
}

}  // namespace helmert
