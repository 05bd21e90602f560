// Parsing the tool's JSON documents, shared by both readers.
#pragma once

#include <rapidjson/document.h>

#include <cstdlib>
#include <new>
#include <string>

namespace helmert {

// RapidJSON's C allocator, except that a failed allocation throws
// std::bad_alloc: the library itself never checks, and would copy into a
// null buffer at a memory limit.
class ThrowingAllocator {
 public:
  static const bool kNeedFree = true;
  void* Malloc(std::size_t size) {
    if (size == 0) return nullptr;
    void* block = std::malloc(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  void* Realloc(void* original, std::size_t, std::size_t new_size) {
    if (new_size == 0) {
      std::free(original);
      return nullptr;
    }
    void* block = std::realloc(original, new_size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  static void Free(void* block) { std::free(block); }
};

// A document and its values whose every allocation, the parser's stack
// included, goes through ThrowingAllocator.
using JsonDocument = rapidjson::GenericDocument<
    rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<ThrowingAllocator>,
    ThrowingAllocator>;
using JsonValue = JsonDocument::ValueType;

// RapidJSON's SAX reader, its parser stack on ThrowingAllocator.
using JsonReader =
    rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>,
                             ThrowingAllocator>;

// The fewest digits that read back to the same double (std::to_chars):
// the form messages and the tools' own number texts use.
std::string ShortestNumberText(double value);

// Throws Error naming `path`, with the byte offset and RapidJSON's own
// message, when the reader stopped on a syntax error.
void ThrowIfParseError(const JsonReader& reader, const std::string& path);

// Parses `text` into `document` as strict JSON (RapidJSON's default grammar,
// without recursion, so that no depth of nesting can exhaust the stack) and
// requires an object at the root. Throws Error naming `path`, with the byte
// offset and RapidJSON's own message for a syntax error, and std::bad_alloc
// when memory runs out.
void ParseJsonObject(const std::string& text, const std::string& path,
                     JsonDocument& document);

}  // namespace helmert
