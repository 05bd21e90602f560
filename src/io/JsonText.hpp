// Parsing the tool's JSON documents, shared by both readers.
#pragma once

#include <rapidjson/document.h>

#include <string>

namespace helmert {

// Parses `text` into `document` as strict JSON (RapidJSON's default grammar,
// without recursion, so that no depth of nesting can exhaust the stack) and
// requires an object at the root. Throws Error naming `path`, with the byte
// offset and RapidJSON's own message for a syntax error.
void ParseJsonObject(const std::string& text, const std::string& path,
                     rapidjson::Document& document);

}  // namespace helmert
