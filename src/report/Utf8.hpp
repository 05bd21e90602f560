// File names are bytes; the JSON report and the SVG plot are UTF-8 text,
// and one byte that is not UTF-8 (a Latin-1 file name, say) would make
// either document unreadable to a strict parser or a browser.
#pragma once

#include <string>

namespace helmert {

// The text with every byte that does not begin a well-formed UTF-8
// sequence, every control character below U+0020 and the non-characters
// U+FFFE and U+FFFF each replaced by U+FFFD, so that it can stand in JSON
// and XML text as it is (XML still needs its markup characters escaped).
std::string PrintableUtf8(const std::string& text);

}  // namespace helmert
