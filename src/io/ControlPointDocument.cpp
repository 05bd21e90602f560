#include "io/ControlPointDocument.hpp"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/Error.hpp"
#include "io/JsonText.hpp"

namespace helmert {

namespace {

// Smallest number of control points that determines seven parameters: each
// point gives three observations.
constexpr std::size_t kMinimumControlPoints = 3;

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// The shortest text that reads back to the same double.
std::string NumberText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// The member `name` of `object`, which must be an object, or null when the
// member is missing. FindMember returns the first of duplicate names.
const rapidjson::Value* FindMember(const rapidjson::Value& object,
                                   const char* name) {
  const auto member = object.FindMember(name);
  return member == object.MemberEnd() ? nullptr : &member->value;
}

const rapidjson::Value& RequireArray(const rapidjson::Value& define,
                                     const char* name,
                                     const std::string& path) {
  const rapidjson::Value* array = FindMember(define, name);
  if (array == nullptr) {
    throw Error(path + ": \"define\" has no member " + Quoted(name));
  }
  if (!array->IsArray()) {
    throw Error(path + ": \"define\"." + Quoted(name) + " is not an array");
  }
  return *array;
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  std::error_code ignored;
  // A directory opens as a stream on this platform but has no content.
  if (std::filesystem::is_directory(path, ignored)) {
    throw Error("Error opening file: " + path);
  }
  std::ifstream file(path, std::ios::in | std::ios::binary);
  if (!file.is_open()) {
    throw Error("Error opening file: " + path);
  }
  std::string text;
  const std::uintmax_t size = std::filesystem::file_size(path, ignored);
  if (!ignored) text.reserve(static_cast<std::size_t>(size));
  char chunk[1 << 16];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(file.gcount()));
  }
  if (file.bad()) {
    throw Error("Error reading file: " + path + ": " + std::strerror(errno));
  }
  return text;
}

std::vector<Point3> ReadPointList(const rapidjson::Value& array,
                                  const std::string& member,
                                  const std::string& path) {
  const std::string where = path + ": \"define\"." + Quoted(member);
  const rapidjson::SizeType size = array.Size();
  if (size == 0) throw Error(where + " is empty");
  for (rapidjson::SizeType i = 0; i < size; ++i) {
    if (!array[i].IsNumber()) {
      throw Error(where + " element " + std::to_string(i) + " is not a number");
    }
  }
  if (size % 3 != 0) {
    throw Error(where + " holds " + std::to_string(size) +
                " numbers, not a whole number of (x, y, z) triples");
  }
  std::vector<Point3> points;
  points.reserve(size / 3);
  for (rapidjson::SizeType i = 0; i < size; i += 3) {
    points.push_back({array[i].GetDouble(), array[i + 1].GetDouble(),
                      array[i + 2].GetDouble()});
  }
  return points;
}

ControlPoints ParseControlPointDocument(const std::string& text,
                                        const std::string& path) {
  rapidjson::Document document;
  ParseJsonObject(text, path, document);
  const rapidjson::Value* define = FindMember(document, "define");
  if (define == nullptr) {
    throw Error(path + ": the document has no member \"define\"");
  }
  if (!define->IsObject()) {
    throw Error(path + ": \"define\" is not an object");
  }

  ControlPoints points;
  points.source = ReadPointList(RequireArray(*define, "srcpoints", path),
                                "srcpoints", path);
  points.destination = ReadPointList(RequireArray(*define, "despoints", path),
                                     "despoints", path);
  if (points.source.size() != points.destination.size()) {
    throw Error(path + ": \"srcpoints\" holds " +
                std::to_string(points.source.size()) +
                " points but \"despoints\" holds " +
                std::to_string(points.destination.size()));
  }
  return points;
}

void ValidateControlPoints(const ControlPoints& points,
                           const std::string& path) {
  const std::size_t count = points.source.size();
  if (count < kMinimumControlPoints) {
    throw Error(path + ": " + std::to_string(count) +
                " control point(s); the seven parameters need at least 3");
  }
  for (std::size_t i = 0; i < count; ++i) {
    const Point3& point = points.source[i];
    if (!(point.x >= -180.0 && point.x <= 180.0)) {
      throw Error(path + ": \"srcpoints\" point " + std::to_string(i) +
                  ": longitude " + NumberText(point.x) +
                  " is outside [-180, 180]");
    }
    if (!(point.y > -90.0 && point.y < 90.0)) {
      throw Error(path + ": \"srcpoints\" point " + std::to_string(i) +
                  ": latitude " + NumberText(point.y) +
                  " is not strictly between -90 and 90");
    }
  }
}

}  // namespace helmert
