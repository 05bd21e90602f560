#include "io/ControlPointDocument.hpp"

#include <fcntl.h>
#include <rapidjson/document.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "common/Error.hpp"
#include "io/JsonText.hpp"

namespace helmert {

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Where each element of an array stands in the text: its first byte and
// the byte after it.
struct ArraySpans {
  std::vector<std::size_t> starts;
  std::vector<std::size_t> ends;
};

// What the reader keeps of one member of "define" ("srcpoints",
// "despoints", "names"): whether it is there, whether it is an array, its
// element count, the first element of the wrong kind, and the elements.
struct ListSeen {
  bool present = false;
  bool is_array = false;
  std::size_t count = 0;
  std::size_t first_wrong = kNone;      // index of the first wrong element
  double pending[3] = {0.0, 0.0, 0.0};  // the triple being read
  std::vector<std::string> strings;     // "names"
  ArraySpans spans;  // of the elements, when the copy needs them
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
};

// RapidJSON's SAX handler for the control-point document, the one reader
// of it: follows the structure and collects the two number lists (and the
// names when asked) straight into vectors, without a DOM, and, for a copy
// of the document, where each element of those lists stands in the text
// and where define's last member ends (from the stream's position after
// each value), so that the copy and the values cannot disagree. It only
// records what it sees; the checks are made afterwards, in the order and
// with the messages of the document's rules. Of a name that occurs twice in
// one object the first occurrence counts, as FindMember does; it follows
// the structure without recursion (the parser is iterative), at any depth
// of other members.
class ControlDocumentReader
    : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>,
                                          ControlDocumentReader> {
 public:
  enum class Kind { kScalar, kNumber, kString, kObject, kArray };

  using Stream =
      rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream>;

  // With `text` and `stream` (the stream the parser reads `text` from), the
  // spans are recorded too.
  ControlDocumentReader(bool read_names, std::size_t expected_points,
                        const char* text = nullptr, Stream* stream = nullptr)
      : read_names_(read_names), text_(text), stream_(stream) {
    source_points.reserve(expected_points);
    destination_points.reserve(expected_points);
  }

  bool Null() { return Value(Kind::kScalar); }
  bool Bool(bool) { return Value(Kind::kScalar); }
  bool Int(int i) { return Number(static_cast<double>(i)); }
  bool Uint(unsigned u) { return Number(static_cast<double>(u)); }
  bool Int64(std::int64_t i) { return Number(static_cast<double>(i)); }
  bool Uint64(std::uint64_t u) { return Number(static_cast<double>(u)); }
  bool Double(double d) { return Number(d); }
  bool String(const char* text, rapidjson::SizeType length, bool) {
    if (list_ == &names_ && depth_ == list_depth_) {
      names_.strings.emplace_back(text, length);
    }
    return Value(Kind::kString);
  }
  bool StartObject() {
    Value(Kind::kObject);
    ++depth_;
    return true;
  }
  std::size_t define_last_end = 0;  // after the last member value of define
  bool Key(const char* text, rapidjson::SizeType length, bool) {
    if (depth_ == 1 || depth_ == define_depth_) key_.assign(text, length);
    return true;
  }
  bool EndObject(rapidjson::SizeType) { return Leave(); }
  bool StartArray() {
    Value(Kind::kArray);
    ++depth_;
    return true;
  }
  bool EndArray(rapidjson::SizeType) { return Leave(); }

  bool root_is_object = false;
  bool define_seen = false;
  bool define_is_object = false;
  ListSeen source_;
  ListSeen destination_;
  ListSeen names_;
  // "central_meridian" and "scale_factor" of "define": seen, a number, and
  // the value of the first occurrence.
  struct NumberSeen {
    bool present = false;
    bool is_number = false;
    double value = 0.0;
  };
  NumberSeen meridian;
  NumberSeen scale_factor;
  // The lists' whole triples, read straight into points.
  std::vector<GeodeticPoint> source_points;
  std::vector<Point3> destination_points;

 private:
  bool Number(double value) {
    last_number_ = value;
    if (list_ != nullptr && list_ != &names_ && depth_ == list_depth_) {
      const std::size_t component = list_->count % 3;
      double* pending = list_->pending;
      pending[component] = value;
      if (component == 2) {
        if (list_ == &source_) {
          source_points.push_back({pending[0], pending[1], pending[2]});
        } else {
          destination_points.push_back({pending[0], pending[1], pending[2]});
        }
      }
    }
    return Value(Kind::kNumber);
  }

  // Every value, scalar or the start of a container, at the current depth.
  bool Value(Kind kind) {
    const bool scalar = kind != Kind::kObject && kind != Kind::kArray;
    if (stream_ != nullptr && scalar) {
      const std::size_t end = stream_->Tell();
      if (list_ != nullptr && depth_ == list_depth_) {
        list_->spans.ends.push_back(end);
        list_->spans.starts.push_back(ScalarStart(end));
      }
      if (depth_ == define_depth_) define_last_end = end;
    }
    if (depth_ == 0) {
      root_is_object = kind == Kind::kObject;
    } else if (list_ != nullptr && depth_ == list_depth_) {
      const bool right =
          list_ == &names_ ? kind == Kind::kString : kind == Kind::kNumber;
      if (!right && list_->first_wrong == ListSeen::kNone) {
        list_->first_wrong = list_->count;
      }
      ++list_->count;
    } else if (depth_ == 1 && root_is_object && !define_seen &&
               key_ == "define") {
      define_seen = true;
      define_is_object = kind == Kind::kObject;
      if (define_is_object) define_depth_ = 2;
    } else if (depth_ == define_depth_ && (key_ == "central_meridian" ||
                                           key_ == "scale_factor")) {
      NumberSeen& seen = key_ == "central_meridian" ? meridian : scale_factor;
      if (!seen.present) {
        seen.present = true;
        seen.is_number = kind == Kind::kNumber;
        seen.value = last_number_;
      }
    } else if (depth_ == define_depth_) {
      ListSeen* seen = key_ == "srcpoints"              ? &source_
                       : key_ == "despoints"            ? &destination_
                       : key_ == "names" && read_names_ ? &names_
                                                        : nullptr;
      if (seen != nullptr && !seen->present) {
        seen->present = true;
        seen->is_array = kind == Kind::kArray;
        if (seen->is_array) {
          list_ = seen;
          list_depth_ = depth_ + 1;
        }
      }
    }
    return true;
  }

  bool Leave() {
    --depth_;
    if (list_ != nullptr && depth_ < list_depth_) list_ = nullptr;
    // The parser reports the end of a container before it takes the
    // bracket.
    if (stream_ != nullptr && depth_ == define_depth_) {
      define_last_end = stream_->Tell() + 1;
    }
    if (depth_ < define_depth_) define_depth_ = -1;
    return true;
  }

  // The first byte of the scalar that ends at `end`: the start of its
  // token, found backwards (a string from its unescaped opening quote).
  std::size_t ScalarStart(std::size_t end) const {
    const char* text = text_;
    std::size_t at = end;
    if (at > 0 && text[at - 1] == '"') {
      --at;
      for (;;) {
        while (at > 0 && text[at - 1] != '"') --at;
        // A quote escaped by an odd number of backslashes is not the start.
        std::size_t slashes = 0;
        while (at >= 2 + slashes && text[at - 2 - slashes] == '\\') ++slashes;
        --at;
        if (slashes % 2 == 0) return at;
      }
    }
    while (at > 0 && std::strchr("0123456789+-.eEtruefalsn", text[at - 1])) {
      --at;
    }
    return at;
  }

  const bool read_names_;
  const char* const text_;  // the text the stream reads, for the spans
  Stream* const stream_;
  int depth_ = 0;          // containers open
  int define_depth_ = -1;  // depth of the first "define" object's members
  std::string key_;        // the last key at depth 1 or in "define"
  ListSeen* list_ = nullptr;
  int list_depth_ = -1;  // depth of the collected array's elements
  double last_number_ = 0.0;  // the value of the number being seen
};

// Checks one flat array of numbers read as points of three coordinates, in
// array order: refuses a missing member, one that is not an array, an
// empty array, an element that is not a number (naming its index) and a
// size that is not a multiple of 3.
void CheckPointList(const ListSeen& seen, const std::string& member,
                    const std::string& path) {
  if (!seen.present) {
    throw Error(path + ": \"define\" has no member " + Quoted(member));
  }
  const std::string where = path + ": \"define\"." + Quoted(member);
  if (!seen.is_array) throw Error(where + " is not an array");
  if (seen.count == 0) throw Error(where + " is empty");
  if (seen.first_wrong != ListSeen::kNone) {
    // Counted from 1, as the user counts, with the point it belongs to.
    static const char* const kCoordinates[2][3] = {
        {"longitude", "latitude", "height"},
        {"easting", "northing", "height"}};
    const std::size_t k = seen.first_wrong;
    throw Error(where + " element " + std::to_string(k + 1) + " (point " +
                std::to_string(k / 3 + 1) + ", " +
                kCoordinates[member == "despoints"][k % 3] +
                ") is not a number");
  }
  if (seen.count % 3 != 0) {
    throw Error(where + " holds " + std::to_string(seen.count) +
                " numbers, not a whole number of (x, y, z) triples");
  }
}

// The point names: an array of as many distinct strings as points.
std::vector<std::string> PointNames(ListSeen& seen, std::size_t count,
                                    const std::string& path) {
  const std::string where = path + ": \"define\".\"names\"";
  if (!seen.is_array) throw Error(where + " is not an array");
  if (seen.count != count) {
    throw Error(where + " holds " + std::to_string(seen.count) + " names for " +
                std::to_string(count) + " points");
  }
  if (seen.first_wrong != ListSeen::kNone) {
    throw Error(where + ": name of point " +
                std::to_string(seen.first_wrong + 1) + " is not a string");
  }
  std::unordered_map<std::string, std::size_t> first_point;
  for (std::size_t i = 0; i < seen.strings.size(); ++i) {
    const auto inserted = first_point.emplace(seen.strings[i], i);
    if (!inserted.second) {
      throw Error(where + " names \"" + seen.strings[i] +
                  "\" twice (points " +
                  std::to_string(inserted.first->second + 1) + " and " +
                  std::to_string(i + 1) + ")");
    }
  }
  return std::move(seen.strings);
}


}  // namespace

std::string ReadTextFile(const std::string& path) {
  // Opened without waiting: a FIFO that nobody writes reads as empty
  // instead of blocking the run. Read with waiting afterwards.
  const int descriptor =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat status;
  // A directory opens for reading on this platform but has no content.
  if (descriptor < 0 || ::fstat(descriptor, &status) != 0 ||
      S_ISDIR(status.st_mode)) {
    if (descriptor >= 0) ::close(descriptor);
    throw Error("Error opening file: " + path);
  }
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags >= 0) ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
  std::string text;
  try {
    if (S_ISREG(status.st_mode) && status.st_size > 0) {
      text.reserve(static_cast<std::size_t>(status.st_size));
    }
    char chunk[1 << 16];
    for (;;) {
      const ssize_t count = ::read(descriptor, chunk, sizeof chunk);
      if (count == 0) break;
      if (count < 0) {
        if (errno == EINTR) continue;
        throw Error("Error reading file: " + path + ": " +
                    std::strerror(errno));
      }
      text.append(chunk, static_cast<std::size_t>(count));
    }
  } catch (...) {
    ::close(descriptor);
    throw;
  }
  ::close(descriptor);
  return text;
}

ControlPoints ParseControlPointDocument(const std::string& text,
                                        const std::string& path,
                                        std::vector<std::string>* names) {
  // A number takes at least two bytes ("0,"), most about twelve: room for
  // a point per 36 bytes in each list saves the copies of growing for most
  // documents, and what is reserved but not used costs no memory.
  ControlDocumentReader reader(names != nullptr, text.size() / 36);
  JsonReader parser;
  rapidjson::MemoryStream bytes(text.data(), text.size());
  rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream>
      input(bytes);
  parser.Parse<rapidjson::kParseIterativeFlag>(input, reader);
  ThrowIfParseError(parser, path);
  if (!reader.root_is_object) {
    throw Error(path + ": the document is not a JSON object");
  }
  if (!reader.define_seen) {
    throw Error(path + ": the document has no member \"define\"");
  }
  if (!reader.define_is_object) {
    throw Error(path + ": \"define\" is not an object");
  }
  CheckPointList(reader.source_, "srcpoints", path);
  ControlPoints points;
  points.source = std::move(reader.source_points);
  CheckPointList(reader.destination_, "despoints", path);
  points.destination = std::move(reader.destination_points);
  if (points.source.size() != points.destination.size()) {
    throw Error(path + ": \"srcpoints\" holds " +
                std::to_string(points.source.size()) +
                " points but \"despoints\" holds " +
                std::to_string(points.destination.size()));
  }
  if (reader.meridian.present) {
    const std::string where = path + ": \"define\".\"central_meridian\"";
    if (!reader.meridian.is_number) throw Error(where + " is not a number");
    points.central_meridian_degrees = reader.meridian.value;
  }
  if (reader.scale_factor.present) {
    const std::string where = path + ": \"define\".\"scale_factor\"";
    if (!reader.scale_factor.is_number) throw Error(where + " is not a number");
    points.scale_factor = reader.scale_factor.value;
  }
  if (names != nullptr) {
    names->clear();
    if (reader.names_.present) {
      *names = PointNames(reader.names_, points.source.size(), path);
    }
  }
  return points;
}

std::string ControlDocumentWithout(const std::string& text,
                                   const std::string& path,
                                   const std::vector<bool>& drop) {
  JsonReader parser;
  rapidjson::MemoryStream bytes(text.data(), text.size());
  ControlDocumentReader::Stream input(bytes);
  ControlDocumentReader reader(/*read_names=*/true, 0, text.data(), &input);
  parser.Parse<rapidjson::kParseIterativeFlag>(input, reader);
  ThrowIfParseError(parser, path);
  struct {
    const ArraySpans& source;
    const ArraySpans& destination;
    const ArraySpans& names;
    bool names_present;
    std::size_t define_last_end;
  } spans{reader.source_.spans, reader.destination_.spans,
          reader.names_.spans, reader.names_.present, reader.define_last_end};
  // The byte ranges to cut: each dropped element with the separator before
  // it, from the end of the element before; a dropped element with no kept
  // one before it, from its start to the start of the element after.
  std::vector<std::pair<std::size_t, std::size_t>> cuts;
  const auto cut = [&](const ArraySpans& array, std::size_t width) {
    const std::size_t count = array.starts.size();
    bool kept_before = false;
    for (std::size_t e = 0; e < count; ++e) {
      if (!drop[e / width]) {
        kept_before = true;
      } else if (kept_before) {
        cuts.emplace_back(array.ends[e - 1], array.ends[e]);
      } else {
        cuts.emplace_back(array.starts[e],
                          e + 1 < count ? array.starts[e + 1] : array.ends[e]);
      }
    }
  };
  cut(spans.source, 3);
  cut(spans.destination, 3);
  if (spans.names_present) cut(spans.names, 1);
  std::sort(cuts.begin(), cuts.end());
  std::string copy;
  copy.reserve(text.size() + 16 * drop.size());
  std::size_t at = 0;
  const auto copy_to = [&](std::size_t until) {
    if (until > at) copy.append(text, at, until - at);
    at = std::max(at, until);
  };
  for (const auto& [from, to] : cuts) {
    copy_to(from);
    at = std::max(at, to);
  }
  if (!spans.names_present) {
    // Without names the points are numbered from 1: the kept points keep
    // their numbers as names, so that point 18 is still "18" in the next
    // report.
    copy_to(spans.define_last_end);
    copy += ",\n    \"names\": [";
    bool first = true;
    for (std::size_t k = 0; k < drop.size(); ++k) {
      if (drop[k]) continue;
      copy += (first ? "\"" : ", \"") + std::to_string(k + 1) + "\"";
      first = false;
    }
    copy += "]";
  }
  copy_to(text.size());
  return copy;
}

}  // namespace helmert
