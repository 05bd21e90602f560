// Point lists as surveyors export them: delimited text with a header row.
//
// Grammar, line by line:
//   - The text is UTF-8; a byte-order mark at the start is skipped. Lines
//     end with LF or CR LF. Blank lines (nothing but spaces and tabs) are
//     skipped anywhere.
//   - A first line "sep=X" (what spreadsheets write) names the delimiter
//     and is skipped.
//   - The first non-blank line is the header; its fields name the columns.
//   - The delimiter is found in the header: a tab if it holds one, else a
//     semicolon, else a comma, else runs of spaces (whitespace-separated).
//   - A field may be quoted with double quotes; inside, "" stands for one
//     quote and the delimiter is ordinary text. Unquoted fields are trimmed
//     of spaces and tabs (in whitespace-separated text, fields never hold
//     them).
//   - In semicolon- and tab-separated text a number may use a decimal comma
//     (4296938,845); NumberText() turns it into a point.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace helmert {

enum class Delimiter { kComma, kSemicolon, kTab, kWhitespace };

struct DelimitedRow {
  std::size_t line = 0;  // line number in the file, from 1
  std::vector<std::string> fields;
};

struct DelimitedText {
  Delimiter delimiter = Delimiter::kComma;
  DelimitedRow header;
  std::vector<DelimitedRow> rows;  // the lines after the header
  // A decimal comma is a decimal point here (semicolon or tab delimiter).
  bool DecimalCommaAllowed() const {
    return delimiter == Delimiter::kSemicolon || delimiter == Delimiter::kTab;
  }
};

// A UTF-8 byte-order mark, skipped at the start of a text.
inline constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The delimiter a header line uses: a tab, else a semicolon, else a comma,
// else runs of spaces.
Delimiter FindDelimiter(const std::string& header);

// The fields of one line (without its line end) by the grammar above.
// `path` and `line_number` name it in messages; throws Error for an
// unterminated quote or text after a closing quote.
std::vector<std::string> SplitLine(const std::string& line, Delimiter delimiter,
                                   const std::string& path,
                                   std::size_t line_number);

// The same into `fields`, whose strings are reused.
void SplitLineInto(const std::string& line, Delimiter delimiter,
                   const std::string& path, std::size_t line_number,
                   std::vector<std::string>& fields);

// Whether the line holds nothing but spaces and tabs.
bool IsBlankLine(const std::string& line);

// The delimiter a spreadsheet's first line "sep=X" names (X a comma, a
// semicolon, a tab or a space); none for any other line.
std::optional<Delimiter> SeparatorLine(const std::string& line);

// A UTF-16 text that begins with its byte-order mark (FF FE little endian,
// FE FF big endian), as UTF-8 without it. Throws Error naming `path` for an
// odd number of bytes and an unpaired surrogate.
std::string FromUtf16(const std::string& text, bool big_endian,
                      const std::string& path);

// The rows of a text one at a time, by the grammar above, without holding
// them: the header is read when the reader is made. Throws Error as
// ReadDelimitedText does. The text must outlive the reader.
class DelimitedRowReader {
 public:
  DelimitedRowReader(const std::string& text, const std::string& path);
  const DelimitedRow& header() const { return header_; }
  Delimiter delimiter() const { return delimiter_; }
  // A decimal comma is a decimal point here (semicolon or tab delimiter).
  bool DecimalCommaAllowed() const {
    return delimiter_ == Delimiter::kSemicolon || delimiter_ == Delimiter::kTab;
  }
  // The next non-blank row; false after the last.
  bool Next(DelimitedRow& row);

 private:
  bool NextLine(std::string& line);
  const std::string& text_;
  std::string path_;
  std::size_t at_ = 0;
  std::size_t line_number_ = 0;
  Delimiter delimiter_ = Delimiter::kComma;
  DelimitedRow header_;
  std::string line_;  // the current line, its capacity reused
};

// Splits the text into the header and the rows. `path` names the file in
// messages. Throws Error "PATH: no header row" for a text without a
// non-blank line and "PATH:LINE: unterminated quote" for a quote left open
// at the end of a line.
DelimitedText ReadDelimitedText(const std::string& text,
                                const std::string& path);

// The field as the text of a decimal number in the C locale: a decimal
// comma becomes a point where the file allows it (one comma, no point).
std::string NumberText(const std::string& field, bool decimal_comma);

}  // namespace helmert
