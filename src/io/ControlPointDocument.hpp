// The control-point document: the tool's only input. A JSON object whose
// member "define" holds two flat number arrays of equal length 3n:
//   "srcpoints": longitude, latitude (decimal degrees, WGS84), height (m);
//   "despoints": easting, northing, height of the local grid (metres).
// Point k occupies elements 3k, 3k+1, 3k+2; point k of one list is point k of
// the other. Other members, at the top level or inside "define", are ignored;
// of a name that occurs twice in one object the first occurrence is used.
//
// Strict JSON as RapidJSON reads it by default (parsed without recursion, so
// that no depth of nesting can exhaust the stack): a UTF-8 byte-order mark at
// the start is skipped, only whitespace may follow the root, no comments, no
// NaN or Infinity, and a number beyond the largest double is an error.
// Integers and decimals both become doubles (RapidJSON's default conversion).
//
// Every defect is refused with an Error whose one-line message names the
// file, the member and, where it applies, the element index and the counts.
#pragma once

#include <string>
#include <vector>

#include "io/ControlPoints.hpp"

namespace helmert {

// The whole content of the file at path, byte for byte. Throws Error
// "Error opening file: <path>" when the file cannot be opened (missing, no
// permission, a directory) and a message naming the path when it cannot be
// read to the end.
std::string ReadTextFile(const std::string& path);

// Parses the document text and extracts both point lists. `path` is used in
// messages only. Checks the document's form: valid JSON, an object root
// holding an object "define", both arrays present, non-empty, numeric, whole
// triples, of equal length. With `names`, also reads the optional member
// "names" of "define", the points' names (left empty when it is absent),
// and refuses one that is not an array of as many distinct strings as
// points; without, that member is ignored like any other.
ControlPoints ParseControlPointDocument(
    const std::string& text, const std::string& path,
    std::vector<std::string>* names = nullptr);

// The document text of an accepted control-point document without the
// points whose `drop` flag is set (one flag per point): a copy of the text
// with their triples in "srcpoints" and "despoints", their names and the
// separators before them cut out; every other byte stays as it was (each
// kept number's digits, each name's escapes, any depth of other members:
// the text is found by an iterative parse, never re-printed). A document
// without "names" gets them after define's last member: the kept points'
// numbers from 1 ("1", "2", "4", ...), so that they keep them.
std::string ControlDocumentWithout(const std::string& text,
                                   const std::string& path,
                                   const std::vector<bool>& drop);

}  // namespace helmert
