// helmert-control: a surveyor's two point lists to a control-point
// document. The grammar of the delimited text, the angle forms, matching
// by name, every refusal with its file, line and column, and the chain
// from the bundled CSV example to the same result as the JSON example.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "common/Error.hpp"
#include "control/Angles.hpp"
#include "control/DelimitedText.hpp"
#include "control/PointLists.hpp"
#include "io/ControlPointDocument.hpp"
#include "io/ResultDocument.hpp"

namespace helmert {
namespace {

using testing::ProcessResult;
using testing::ReadFile;
using testing::RunProgram;
using testing::TemporaryDirectory;
using testing::WriteFile;

const std::string kControl = HELMERT_CONTROL_EXECUTABLE;
const std::string kFit = HELMERT_FIT_EXECUTABLE;
const std::string kExamples = HELMERT_EXAMPLES;
const std::string kGolden = std::string(HELMERT_TEST_DATA) + "/golden";

// Angles read from sexagesimal text, against the decimal value (degrees):
// a thousandth of an arc-second written to five decimals of a second.
constexpr double kAngleRounding = 1e-12;

// --- The grammar ------------------------------------------------------

struct GrammarCase {
  const char* name;
  std::string text;
  Delimiter delimiter;
  std::vector<std::vector<std::string>> rows;  // header first
};
void PrintTo(const GrammarCase& c, std::ostream* os) { *os << c.name; }

class DelimitedTextTest : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(DelimitedTextTest, SplitsIntoTheFields) {
  const DelimitedText table = ReadDelimitedText(GetParam().text, "f.csv");
  EXPECT_EQ(table.delimiter, GetParam().delimiter);
  std::vector<std::vector<std::string>> rows = {table.header.fields};
  for (const DelimitedRow& row : table.rows) rows.push_back(row.fields);
  EXPECT_EQ(rows, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DelimitedTextTest,
    ::testing::Values(
        GrammarCase{"Comma", "name,e\nA,1.5\n", Delimiter::kComma,
                    {{"name", "e"}, {"A", "1.5"}}},
        GrammarCase{"Semicolon", "name;e\nA;1,5\n", Delimiter::kSemicolon,
                    {{"name", "e"}, {"A", "1,5"}}},
        GrammarCase{"Tab", "name\te\nA\t1,5\n", Delimiter::kTab,
                    {{"name", "e"}, {"A", "1,5"}}},
        GrammarCase{"Whitespace", "  name   e\n A  1.5  \n",
                    Delimiter::kWhitespace, {{"name", "e"}, {"A", "1.5"}}},
        GrammarCase{"ByteOrderMarkAndCrLf", "\xEF\xBB\xBFname,e\r\nA,1\r\n",
                    Delimiter::kComma, {{"name", "e"}, {"A", "1"}}},
        GrammarCase{"BlankLinesAndNoFinalLineEnd", "\n name , e \n\n A , 1",
                    Delimiter::kComma, {{"name", "e"}, {"A", "1"}}},
        GrammarCase{"QuotedDelimiterAndDoubledQuote",
                    "name,e\n\"Hill, \"\"north\"\"\" ,2\n", Delimiter::kComma,
                    {{"name", "e"}, {"Hill, \"north\"", "2"}}},
        GrammarCase{"EmptyFields", "name,e,n\nA,,3\n", Delimiter::kComma,
                    {{"name", "e", "n"}, {"A", "", "3"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DelimitedText, RefusesAnOpenQuoteAndAnEmptyFile) {
  EXPECT_THROW(ReadDelimitedText("name,e\n\"A,1\n", "f.csv"), Error);
  try {
    ReadDelimitedText("\n  \n", "f.csv");
    FAIL();
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "f.csv: no header row");
  }
}

// --- Angles -----------------------------------------------------------

struct AngleCase {
  const char* name;
  std::string text;
  AngleAxis axis;
  bool decimal_comma;
  double degrees;
  bool plain;
};
void PrintTo(const AngleCase& c, std::ostream* os) { *os << c.name; }

class AngleTest : public ::testing::TestWithParam<AngleCase> {};

TEST_P(AngleTest, ReadsTheDegrees) {
  const AngleCase& c = GetParam();
  const AngleReading reading = ReadAngle(c.text, c.axis, c.decimal_comma);
  ASSERT_TRUE(reading.ok) << reading.problem;
  EXPECT_NEAR(reading.degrees, c.degrees, kAngleRounding);
  EXPECT_EQ(reading.plain_number, c.plain);
}

constexpr double kDms = 40.0 + 52.0 / 60.0 + 12.3 / 3600.0;  // 40°52'12.3"

INSTANTIATE_TEST_SUITE_P(
    Forms, AngleTest,
    ::testing::Values(
        AngleCase{"DecimalDegrees", "40.870083", AngleAxis::kLatitude, false,
                  40.870083, true},
        AngleCase{"NegativeDecimal", "-73.5", AngleAxis::kLongitude, false,
                  -73.5, true},
        AngleCase{"DecimalComma", "40,5", AngleAxis::kLatitude, true, 40.5,
                  true},
        AngleCase{"Signs", "40°52'12.3\"N", AngleAxis::kLatitude, false, kDms,
                  false},
        AngleCase{"Spaces", "40 52 12.3 N", AngleAxis::kLatitude, false, kDms,
                  false},
        AngleCase{"Colons", "40:52:12.3", AngleAxis::kLatitude, false, kDms,
                  false},
        AngleCase{"NegativeColons", "-40:52:12.3", AngleAxis::kLatitude,
                  false, -kDms, false},
        AngleCase{"South", "40°52'12.3\"S", AngleAxis::kLatitude, false, -kDms,
                  false},
        AngleCase{"WestFirst", "W 73 30", AngleAxis::kLongitude, false, -73.5,
                  false},
        AngleCase{"PrimesAndDecimalMinutes", "40\xC2\xB0" "52.205\xE2\x80\xB2",
                  AngleAxis::kLatitude, false, 40.0 + 52.205 / 60.0, false},
        AngleCase{"DecimalCommaSeconds", "40°52'12,3\"N", AngleAxis::kLatitude,
                  true, kDms, false},
        // Never guessed: a bare number is decimal degrees, not DD.MMSS.
        AngleCase{"PackedLooking", "140.5212", AngleAxis::kLongitude, false,
                  140.5212, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Angle, RefusesWhatIsNoAngle) {
  for (const auto& [text, axis] : std::vector<std::pair<std::string, AngleAxis>>{
           {"40°60'00\"N", AngleAxis::kLatitude},   // 60 minutes
           {"40 52 60", AngleAxis::kLatitude},       // 60 seconds
           {"-40 52 12 N", AngleAxis::kLatitude},    // sign and letter
           {"40 52 12 E", AngleAxis::kLatitude},     // a longitude's letter
           {"40.5 30", AngleAxis::kLatitude},        // decimals before the end
           {"40 52 12 7", AngleAxis::kLatitude},     // four parts
           {"abc", AngleAxis::kLongitude},
           {"", AngleAxis::kLongitude}}) {
    EXPECT_FALSE(ReadAngle(text, axis, false).ok) << text;
  }
}

// --- Lists, matching and refusals ---------------------------------------

TEST(PointLists, MatchesByNameInTheWgs84Order) {
  const PointList wgs84 = ReadWgs84Points(
      "Name,Lat,Lon,H\nB,38.6,110.5,1300\nA,38.7,110.4,1310\nC,38.8,110.3,"
      "1320\nD,38.9,110.2,1330\n",
      "w.csv");
  const PointList grid = ReadGridPoints(
      "id,easting,northing,height,code\nE,1,2,3,x\nA,4,5,6,y\nB,7,8,9,z\nC,"
      "10,11,12,w\n",
      "g.csv");
  const MatchedPoints matched = MatchByName(wgs84, grid);
  ASSERT_EQ(matched.wgs84.size(), 3u);
  EXPECT_EQ(wgs84.Name(matched.wgs84[0]), "B");
  EXPECT_EQ(grid.Name(matched.grid[0]), "B");
  EXPECT_EQ(grid.Text(matched.grid[1], 0), "4");
  EXPECT_EQ(matched.only_wgs84, std::vector<std::size_t>{3});  // D
  EXPECT_EQ(matched.only_grid, std::vector<std::size_t>{0});   // E
  // Longitude first in the document, as "srcpoints" takes it.
  EXPECT_EQ(wgs84.Text(matched.wgs84[1], 0), "110.4");
  EXPECT_EQ(wgs84.Line(matched.wgs84[1]), 3u);
  EXPECT_EQ(ControlDocumentText(wgs84, grid, matched, std::string("114")),
            "{\n  \"define\": {\n    \"srcpoints\": [\n"
            "      110.5, 38.6, 1300,\n      110.4, 38.7, 1310,\n"
            "      110.3, 38.8, 1320\n    ],\n    \"despoints\": [\n"
            "      7, 8, 9,\n      4, 5, 6,\n      10, 11, 12\n    ],\n"
            "    \"names\": [\"B\", \"A\", \"C\"],\n"
            "    \"central_meridian\": 114\n  }\n}\n");
}

// Lists larger than one block of the point store and one piece of the
// written document: every point comes back whole, in order, and a name
// repeated at the end is found however far from its first line.
TEST(PointLists, LargeListsKeepEveryPointAndFindLateRepeats) {
  constexpr std::size_t kPoints = 60000;
  const std::string long_name(3 << 20, 'L');  // longer than a block
  std::string wgs84_text = "name,lat,lon,h\n";
  std::vector<std::string> grid_rows;
  for (std::size_t i = 0; i < kPoints; ++i) {
    const std::string name = i == 7 ? long_name : "Point " + std::to_string(i);
    wgs84_text += name + ",38." + std::to_string(i) + ",110.5," +
                  std::to_string(i) + ".25\n";
    // The grid list in reverse order, without point 1.
    if (i != 1) {
      grid_rows.push_back(name + "," + std::to_string(i) + ".5,4290000,1300\n");
    }
  }
  std::string grid_text = "name,e,n,h\n";
  for (auto row = grid_rows.rbegin(); row != grid_rows.rend(); ++row) {
    grid_text += *row;
  }
  const PointList wgs84 = ReadWgs84Points(wgs84_text, "w.csv");
  const PointList grid = ReadGridPoints(grid_text, "g.csv");
  ASSERT_EQ(wgs84.size(), kPoints);
  EXPECT_EQ(wgs84.Name(7), long_name);
  EXPECT_EQ(wgs84.Text(kPoints - 1, 1), "38." + std::to_string(kPoints - 1));
  EXPECT_EQ(wgs84.Value(8, 2), 8.25);
  EXPECT_EQ(wgs84.Line(kPoints - 1), kPoints + 1);
  const MatchedPoints matched = MatchByName(wgs84, grid);
  ASSERT_EQ(matched.wgs84.size(), kPoints - 1);
  EXPECT_EQ(matched.only_wgs84, std::vector<std::size_t>{1});
  EXPECT_TRUE(matched.only_grid.empty());
  for (std::size_t i = 0; i < matched.wgs84.size(); ++i) {
    ASSERT_EQ(wgs84.Name(matched.wgs84[i]), grid.Name(matched.grid[i])) << i;
  }
  std::size_t pieces = 0;
  std::string streamed;
  WriteControlDocument(wgs84, grid, matched, std::nullopt, std::nullopt,
                       [&](const std::string& piece) {
                         ++pieces;
                         streamed += piece;
                       });
  EXPECT_GT(pieces, 2u);
  std::vector<std::string> names;
  const ControlPoints read = ParseControlPointDocument(streamed, "c.json", &names);
  ASSERT_EQ(read.source.size(), kPoints - 1);
  EXPECT_EQ(names[6], long_name);
  EXPECT_EQ(read.source[kPoints - 2].height_metres, (kPoints - 1) + 0.25);
  EXPECT_EQ(read.destination[kPoints - 2].x, (kPoints - 1) + 0.5);

  const std::string repeated = wgs84_text + "Point 5,38.1,110.1,1\n";
  try {
    ReadWgs84Points(repeated, "w.csv");
    ADD_FAILURE() << "a repeated name was read";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()),
              "w.csv:" + std::to_string(kPoints + 2) +
                  ": column \"name\": \"Point 5\" is also the name on line 7; "
                  "names must be distinct");
  }
}

TEST(PointLists, NumberTextIsCopiedOrWrittenAsJson) {
  EXPECT_EQ(JsonNumberText("4296938.845", 4296938.845), "4296938.845");
  EXPECT_EQ(JsonNumberText("+1.5", 1.5), "1.5");
  EXPECT_EQ(JsonNumberText("007", 7.0), "7");
  EXPECT_EQ(JsonNumberText(".5", 0.5), "0.5");
  // Regression (found by fuzz_control): an exponent beyond a double's was
  // copied, and the tools refused the document as "Number too big".
  EXPECT_EQ(JsonNumberText("0e484400", 0.0), "0");
  EXPECT_EQ(JsonNumberText("", 110.40772290000001), "110.40772290000001");
}

struct RefusedListCase {
  const char* name;
  bool wgs84;
  std::string text;
  std::string message;
};
void PrintTo(const RefusedListCase& c, std::ostream* os) { *os << c.name; }

class RefusedListTest : public ::testing::TestWithParam<RefusedListCase> {};

TEST_P(RefusedListTest, NamesTheFileTheLineAndTheColumn) {
  const RefusedListCase& c = GetParam();
  try {
    if (c.wgs84) {
      ReadWgs84Points(c.text, "f.csv");
    } else {
      ReadGridPoints(c.text, "f.csv");
    }
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, RefusedListTest,
    ::testing::Values(
        RefusedListCase{"AmbiguousX", false, "name,x,y,h\nA,1,2,3\n",
                        "f.csv:1: column \"x\": x and y are ambiguous (in "
                        "Gauss-Kruger practice X is the northing and Y the "
                        "easting, elsewhere the reverse): name the columns "
                        "\"easting\" and \"northing\""},
        RefusedListCase{"NoLatitude", true, "name,lon,h\nA,1,2\n",
                        "f.csv:1: no column for the latitude (a header "
                        "\"lat\", \"latitude\", \"lat_wgs84\" or "
                        "\"latitude_wgs84\")"},
        RefusedListCase{"TwoHeightColumns", true,
                        "name,lat,lon,h,height\nA,1,2,3,4\n",
                        "f.csv:1: columns \"h\" and \"height\" both name the "
                        "ellipsoidal height; keep one"},
        RefusedListCase{"DuplicateName", true,
                        "\nname,lat,lon,h\nA,1,2,3\nB,1,2,3\nA,1,2,3\n",
                        "f.csv:5: column \"name\": \"A\" is also the name on "
                        "line 3; names must be distinct"},
        RefusedListCase{"NotAnAngle", true,
                        "name;lat;lon;h\nA;38 48 13 N;110,4;1310\nB;north;1;2\n",
                        "f.csv:3: column \"lat\": \"north\" is not an angle"},
        RefusedListCase{"SixtyMinutes", true, "name,lat,lon,h\nA,38:60:00,1,2\n",
                        "f.csv:2: column \"lat\": \"38:60:00\" has 60 or more "
                        "minutes"},
        RefusedListCase{"LatitudeBeyond90", true, "name,lat,lon,h\nA,95,1,2\n",
                        "f.csv:2: column \"lat\": \"95\" is not strictly "
                        "between -90 and 90"},
        RefusedListCase{"DecimalCommaInACommaFile", false,
                        "name,e,n,h\nA,1,2,3\nB,\"1,5\",2,3\n",
                        "f.csv:3: column \"e\": \"1,5\" is not a number"},
        RefusedListCase{"MissingField", false, "name,e,n,h\nA,1,2\n",
                        "f.csv:2: the line has 3 fields, the header 4"},
        RefusedListCase{"NoName", false, "name,e,n,h\n,1,2,3\n",
                        "f.csv:2: column \"name\": the point has no name"},
        RefusedListCase{"NameNotUtf8", false, "name,e,n,h\n\xFF\xFE,1,2,3\n",
                        "f.csv:2: column \"name\": the name is not UTF-8 "
                        "text (a list saved as GBK or Latin-1? give "
                        "helmert-control --encoding GBK or --encoding "
                        "LATIN1)"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- What a list says, read exactly or refused ----------------------------
// Each case below was read silently wrong, or refused with a cause that
// sent the user the wrong way, before: a value taken by position, a row's
// columns shifted, a sign doubled, a decimal mark mixed, a range left to
// helmert-fit, an encoding or header not recognised.

INSTANTIATE_TEST_SUITE_P(
    Fields, RefusedListTest,
    ::testing::Values(
        // The README's own "38 48 13.89204 N" in a space-separated list is
        // four fields, not one angle: read as longitude 48, latitude 38.
        RefusedListCase{"SpaceSeparatedSexagesimal", true,
                        "name lat lon h\nBM01 38 48 13.89204 N 110 24 27.8 E "
                        "1310.71\n",
                        "f.csv:2: the line has 10 fields, the header 4"},
        RefusedListCase{"UnquotedDecimalCommas", false,
                        "name,e,n,h\nBM01,448507,717,4296938,845,1368,157\n",
                        "f.csv:2: the line has 7 fields, the header 4: decimal "
                        "commas in a comma-separated list? quote such numbers "
                        "(\"1368,157\") or separate the fields with "
                        "semicolons"},
        RefusedListCase{"CommaInAName", false,
                        "name,e,n,h\nGPS,02,448507.717,4296938.845,1368.157\n",
                        "f.csv:2: the line has 5 fields, the header 4: decimal "
                        "commas in a comma-separated list? quote such numbers "
                        "(\"1368,157\") or separate the fields with "
                        "semicolons"},
        RefusedListCase{"FieldMissing", false, "name;e;n;h\nA;1;2\n",
                        "f.csv:2: the line has 3 fields, the header 4"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Angles, RefusedListTest,
    ::testing::Values(
        RefusedListCase{"MinutesWithoutDegrees", true,
                        "name,lat,lon,h\nA,48'13.89204\",110.4,1\n",
                        "f.csv:2: column \"lat\": \"48'13.89204\"\" has "
                        "minutes but no degrees (write 0 for none)"},
        RefusedListCase{"SecondsAlone", true,
                        "name,lat,lon,h\nA,13.89204\",110.4,1\n",
                        "f.csv:2: column \"lat\": \"13.89204\"\" has "
                        "seconds but no degrees (write 0 for none)"},
        RefusedListCase{"SecondsWithoutMinutes", true,
                        "name,lat,lon,h\nA,38°13.89204\",110.4,1\n",
                        "f.csv:2: column \"lat\": \"38°13.89204\"\" has "
                        "seconds but no minutes before them (write 0 for "
                        "none)"},
        RefusedListCase{"MinutesTwice", true,
                        "name,lat,lon,h\nA,38°48'13',110.4,1\n",
                        "f.csv:2: column \"lat\": \"38°48'13'\" has its "
                        "degrees, minutes and seconds out of order or twice"},
        RefusedListCase{"SignAndHemisphere", true,
                        "name,lat,lon,h\nA,-38°48'N,110.4,1\n",
                        "f.csv:2: column \"lat\": \"-38°48'N\" has both a "
                        "sign and a hemisphere letter"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Numbers, RefusedListTest,
    ::testing::Values(
        RefusedListCase{"TwoSigns", false,
                        "name,e,n,h\nA,+-448507.717,4296938.845,1368\n",
                        "f.csv:2: column \"e\": \"+-448507.717\" is not a "
                        "number"},
        RefusedListCase{"LatitudeAtThePole", true,
                        "name,lat,lon,h\nA,90,110.4,1\n",
                        "f.csv:2: column \"lat\": \"90\" is not strictly "
                        "between -90 and 90"},
        RefusedListCase{"NorthingBeyond1e8", false,
                        "name,e,n,h\nA,448507.717,4296938845000,1368\n",
                        "f.csv:2: column \"n\": \"4296938845000\" is beyond "
                        "1e8 m from the origin (nothing on or near the Earth "
                        "needs it)"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    DecimalMarks, RefusedListTest,
    ::testing::Values(
        RefusedListCase{"APointAmongCommas", false,
                        "name;e;n;h\nA;1,5;2,5;1368,157\nB;1,5;2,5;1.368\n"
                        "C;1,5;2,5;1370,2\n",
                        "f.csv:3: column \"h\": \"1.368\" has a decimal "
                        "point where 2 other rows of the column use a decimal "
                        "comma (from line 2): give the list one decimal mark"},
        RefusedListCase{"ACommaAmongPointsInATabList", false,
                        "name\te\tn\th\nA\t1.5\t2\t3\nB\t1,5\t2\t3\n"
                        "C\t1.7\t2\t3\n",
                        "f.csv:3: column \"e\": \"1,5\" has a decimal "
                        "comma where 2 other rows of the column use a decimal "
                        "point (from line 2): give the list one decimal "
                        "mark"}),
    [](const auto& info) { return std::string(info.param.name); });

// What such lists read as, value by value.
struct ReadListCase {
  const char* name;
  bool wgs84;
  std::string text;
  std::string encoding;
  std::string first_name;
  std::array<double, 3> first;  // document order
};
void PrintTo(const ReadListCase& c, std::ostream* os) { *os << c.name; }

class ReadListTest : public ::testing::TestWithParam<ReadListCase> {};

TEST_P(ReadListTest, ReadsEveryValueAsWritten) {
  const ReadListCase& c = GetParam();
  const std::string text = DecodeListText(c.text, c.encoding, "f.csv");
  const PointList points =
      c.wgs84 ? ReadWgs84Points(text, "f.csv") : ReadGridPoints(text, "f.csv");
  ASSERT_FALSE(points.empty());
  EXPECT_EQ(points.Name(0), c.first_name);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(points.Value(0, k), c.first[k], kAngleRounding) << k;
  }
}

// UTF-16 little endian with its byte-order mark, as a spreadsheet saves
// "Unicode text".
std::string Utf16Le(const std::string& ascii) {
  std::string text = "\xFF\xFE";
  for (const char c : ascii) {
    text += c;
    text += '\0';
  }
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ReadListTest,
    ::testing::Values(
        // Decimal commas in a tab-separated list. Regression: no test failed
        // when they stopped being read.
        ReadListCase{"TabSeparatedDecimalCommas", false,
                     "name\te\tn\th\nBM01\t448507,717\t4296938,845\t"
                     "1368,157\n",
                     "", "BM01", {448507.717, 4296938.845, 1368.157}},
        ReadListCase{"DegreesMarkedWithD", true,
                     "name,lat,lon,h\nA,38d48'13.89204\"N,110d24'27.80244\"E,"
                     "1310.71\n",
                     "", "A",
                     {110.0 + 24.0 / 60 + 27.80244 / 3600,
                      38.0 + 48.0 / 60 + 13.89204 / 3600, 1310.71}},
        ReadListCase{"SecondsMarkedWithTwoApostrophes", true,
                     "name;lat;lon;h\nA;38°48'13,5'';110°24'27,8'';1310,71\n",
                     "", "A",
                     {110.0 + 24.0 / 60 + 27.8 / 3600,
                      38.0 + 48.0 / 60 + 13.5 / 3600, 1310.71}},
        ReadListCase{"Utf16WithByteOrderMark", false,
                     Utf16Le("name,e,n,h\r\nA,1.5,2.5,3.5\r\n"), "", "A",
                     {1.5, 2.5, 3.5}},
        ReadListCase{"GbkNamesWithEncoding", false,
                     "name,e,n,h\n\xB5\xE3\xD2\xBB,1,2,3\n", "GBK",
                     "\xE7\x82\xB9\xE4\xB8\x80", {1, 2, 3}},  // 点一
        ReadListCase{"SpreadsheetSeparatorLine", false,
                     "sep=;\nname;e;n;h\nA;1,5;2,5;3,5\n", "", "A",
                     {1.5, 2.5, 3.5}},
        ReadListCase{"HeadersWithUnitsAndQualifiers", true,
                     "Point Name,Latitude (WGS84),Longitude [deg],Ellipsoidal "
                     "Height (m)\nA,38.5,110.5,1300\n",
                     "", "A", {110.5, 38.5, 1300}},
        ReadListCase{"QualifiedHeightAndLatitude", true,
                     "id,lat_wgs84,lon,h_ell\nA,38.5,110.5,1300\n", "", "A",
                     {110.5, 38.5, 1300}},
        ReadListCase{"GridHeadersWithUnits", false,
                     "Name,Easting (m),Northing (m),Height (m)\nA,1,2,3\n",
                     "", "A", {1, 2, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ListEncodings, AnUnknownEncodingAndTextNotInItAreRefused) {
  EXPECT_THROW(DecodeListText("a", "NO-SUCH-ENCODING", "f.csv"), Error);
  try {
    DecodeListText("name\n\xFF\xFF", "UTF-8", "f.csv");
    FAIL() << "accepted";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "f.csv: not UTF-8 text at byte 6");
  }
}

// --- The tool -----------------------------------------------------------

class HelmertControlTest : public ::testing::Test {
 protected:
  TemporaryDirectory directory_;
};

// The bundled lists, in decimal degrees, give the JSON example's result
// byte for byte: every number's text is copied.
TEST_F(HelmertControlTest, TheCsvExampleGivesTheJsonExamplesResult) {
  const std::string control = directory_.Path("control.json");
  const ProcessResult run =
      RunProgram(kControl, {kExamples + "/ordos-wgs84.csv",
                            kExamples + "/ordos-grid.csv", control});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("helmert-control: 16 points matched by name", 0),
            0u)
      << run.out;
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {control, result}).exit_status, 0);
  EXPECT_EQ(ReadFile(result), ReadFile(kGolden + "/ordos.result.json"));
}

// Sexagesimal angles with semicolons and decimal commas (seconds to five
// decimals, 0.3 mm): the same parameters to 1e-9 relative.
TEST_F(HelmertControlTest, SexagesimalAnglesGiveTheSameParameters) {
  const std::string control = directory_.Path("control.json");
  ASSERT_EQ(RunProgram(kControl, {kExamples + "/ordos-wgs84-dms.txt",
                                  kExamples + "/ordos-grid.csv", control})
                .exit_status,
            0);
  const std::string result = directory_.Path("result.json");
  ASSERT_EQ(RunProgram(kFit, {control, result}).exit_status, 0);
  const TransformParameters got =
      ParseResultDocument(ReadFile(result), "r").parameters;
  const TransformParameters want =
      ParseResultDocument(ReadFile(kGolden + "/ordos.result.json"), "r")
          .parameters;
  const double got_values[] = {got.T_x, got.T_y, got.T_z, got.R_x,
                               got.R_y, got.R_z, got.Scale};
  const double want_values[] = {want.T_x, want.T_y, want.T_z, want.R_x,
                                want.R_y, want.R_z, want.Scale};
  // Relative to each translation and to the scale; the angles relative to
  // the unit diagonal of M, whose off-diagonal elements they are.
  for (int k = 0; k < 7; ++k) {
    const double size = k >= 3 && k < 6 ? 1.0 : std::fabs(want_values[k]);
    EXPECT_NEAR(got_values[k], want_values[k], 1e-9 * size) << "parameter " << k;
  }
}

TEST_F(HelmertControlTest, SaysWhichNamesMatchedNothing) {
  const std::string wgs84 = directory_.Path("w.csv");
  const std::string grid = directory_.Path("g.csv");
  WriteFile(wgs84,
            "name,lat,lon,h\nA,38.7,110.4,1\nB,38.8,110.5,2\nC,38.6,110.3,3\n"
            "X,38.6,110.6,4\n");
  WriteFile(grid, "name,e,n,h\nC,1,2,3\nB,4,5,6\nA,7,9,8\nY,1,1,1\n");
  const std::string control = directory_.Path("c.json");
  const ProcessResult run = RunProgram(
      kControl, {wgs84, grid, control, "--central-meridian=114:10:42.8"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "helmert-control: 3 points matched by name (4 in " +
                         wgs84 + ", 4 in " + grid + ")\n  only in " + wgs84 +
                         ": X\n  only in " + grid + ": Y\n  written to " +
                         control + "\n");
  EXPECT_NE(ReadFile(control).find("\"central_meridian\": 114.17855555555556"),
            std::string::npos);
}

TEST_F(HelmertControlTest, RefusalsLeaveTheDocumentAlone) {
  const std::string wgs84 = directory_.Path("w.csv");
  const std::string grid = directory_.Path("g.csv");
  const std::string control = directory_.Path("c.json");
  WriteFile(control, "earlier");
  WriteFile(wgs84, "name,lat,lon,h\nA,38.7,110.4,1\nB,38.8,110.5,2\n");
  WriteFile(grid, "name,e,n,h\nA,1,2,3\nB,4,5,6\n");
  ProcessResult run = RunProgram(kControl, {wgs84, grid, control});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.err, wgs84 + ", " + grid +
                         ": 2 point name(s) in both lists; a fit needs at "
                         "least 3\n");
  run = RunProgram(kControl, {wgs84, grid, control, "--central-meridian",
                              "200"});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(ReadFile(control), "earlier");
  // The output is never an input.
  run = RunProgram(kControl, {wgs84, grid, wgs84});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.err.find("would replace an input"), std::string::npos);
}

TEST(HelmertControl, HelpDescribesEveryOption) {
  const ProcessResult run = RunProgram(kControl, {"--help"});
  EXPECT_EQ(run.exit_status, 0);
  for (const char* option : {"--central-meridian", "--help", "WGS84.csv",
                             "GRID.csv", "CONTROL.json"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(RunProgram(kControl, {"a", "b"}).exit_status, 1);
  EXPECT_EQ(RunProgram(kControl, {"a", "b", "c", "--bogus"}).exit_status, 1);
}

}  // namespace
}  // namespace helmert
