// The console labels of helmert-fit, as the GBK (code page 936) bytes that
// the report writes. The console is expected to show GBK; nothing converts.
#pragma once

namespace helmert {

// "中央经线: ", with an ASCII colon and space.
inline constexpr char kCentralMeridianLabel[] =
    "\xD6\xD0\xD1\xEB\xBE\xAD\xCF\xDF: ";

// "估计的参数：" and its line end, before the seven parameter lines.
inline constexpr char kParameterBlockLabel[] =
    "\xB9\xC0\xBC\xC6\xB5\xC4\xB2\xCE\xCA\xFD\xA3\xBA\n";

// "水平残差： ", with a full-width colon and an ASCII space.
inline constexpr char kHorizontalLabel[] =
    "\xCB\xAE\xC6\xBD\xB2\xD0\xB2\xEE\xA3\xBA\x20";

// "垂直残差", no colon: the value follows at once.
inline constexpr char kVerticalLabel[] = "\xB4\xB9\xD6\xB1\xB2\xD0\xB2\xEE";

// "经纬度残差：", with a full-width colon.
inline constexpr char kGeodeticLabel[] =
    "\xBE\xAD\xCE\xB3\xB6\xC8\xB2\xD0\xB2\xEE\xA3\xBA";

}  // namespace helmert
