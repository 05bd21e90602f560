// What the three tools do with their standard streams and signals, and how
// they show text that came from a user's files.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace helmert {

// Readies the process for a run: standard output must be open (a run
// whose report cannot be written fails; Error "Error writing standard
// output: Bad file descriptor"); a closed standard error is pointed at
// /dev/null, so that no file the run opens takes its place; SIGPIPE and
// SIGXFSZ are ignored, so that a closed pipe or a file-size limit is a
// write error the run reports, not a death; SIGINT, SIGTERM and SIGHUP
// remove the run's temporary files first (RemoveTemporariesOnSignals).
void PrepareProcess();

// Flushes the stream and throws Error "Error writing standard output"
// (with ": REASON" when the flush itself failed) when any write to it
// failed: a full disk, a closed pipe, a file-size limit, a closed
// descriptor.
void RequireWritten(std::ostream& out);

// The length of the well-formed UTF-8 sequence that starts at text[at],
// with its code point, or 0 when the byte there begins none (Unicode's
// table 3-7: no overlong forms, no surrogates, nothing beyond U+10FFFF).
std::size_t Utf8Sequence(const std::string& text, std::size_t at,
                         char32_t* code_point);

// The text as it can be shown on a terminal or in a one-line message:
// control characters (C0, DEL and C1), the bidirectional controls (U+061C,
// U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) and bytes that are
// not well-formed UTF-8 escaped as \n, \r, \t, \xNN or \uNNNN, never raw;
// everything else unchanged. A line break never starts a new line.
std::string ShownText(const std::string& text);

}  // namespace helmert
