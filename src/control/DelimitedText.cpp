#include "control/DelimitedText.hpp"

#include "common/Error.hpp"

#include <optional>

namespace helmert {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

Delimiter FindDelimiter(const std::string& header) {
  if (header.find('\t') != std::string::npos) return Delimiter::kTab;
  if (header.find(';') != std::string::npos) return Delimiter::kSemicolon;
  if (header.find(',') != std::string::npos) return Delimiter::kComma;
  return Delimiter::kWhitespace;
}

void SplitLineInto(const std::string& line, Delimiter delimiter,
                   const std::string& path, std::size_t line_number,
                   std::vector<std::string>& fields) {
  const char separator = delimiter == Delimiter::kTab         ? '\t'
                         : delimiter == Delimiter::kSemicolon ? ';'
                         : delimiter == Delimiter::kComma     ? ','
                                                              : ' ';
  const auto is_separator = [&](char c) {
    return delimiter == Delimiter::kWhitespace ? IsBlank(c) : c == separator;
  };
  // The fields' strings are reused from row to row: a row of short fields
  // allocates nothing.
  std::size_t count = 0;
  const auto next_field = [&]() -> std::string& {
    if (count == fields.size()) fields.emplace_back();
    std::string& field = fields[count++];
    field.clear();
    return field;
  };
  std::size_t at = 0;
  if (delimiter == Delimiter::kWhitespace) {
    while (at < line.size() && IsBlank(line[at])) ++at;
  }
  for (;;) {
    std::string& field = next_field();
    // Blanks before a quote belong to no field.
    std::size_t start = at;
    while (start < line.size() && IsBlank(line[start]) &&
           !is_separator(line[start])) {
      ++start;
    }
    if (start < line.size() && line[start] == '"') {
      at = start + 1;
      for (;;) {
        if (at >= line.size()) {
          throw Error(path + ":" + std::to_string(line_number) +
                      ": unterminated quote");
        }
        if (line[at] == '"') {
          if (at + 1 < line.size() && line[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        field += line[at++];
      }
      // Only blanks may follow the closing quote before the delimiter.
      while (at < line.size() && !is_separator(line[at])) {
        if (!IsBlank(line[at])) {
          throw Error(path + ":" + std::to_string(line_number) +
                      ": text after a closing quote");
        }
        ++at;
      }
    } else {
      std::size_t end = at;
      while (end < line.size() && !is_separator(line[end])) ++end;
      std::size_t first = start;
      std::size_t last = end;
      while (last > first && IsBlank(line[last - 1])) --last;
      field.assign(line, first, last - first);
      at = end;
    }
    if (at >= line.size()) break;
    ++at;  // the delimiter
    if (delimiter == Delimiter::kWhitespace) {
      while (at < line.size() && IsBlank(line[at])) ++at;
      if (at >= line.size()) break;
    }
  }
  fields.resize(count);
}

std::vector<std::string> SplitLine(const std::string& line, Delimiter delimiter,
                                   const std::string& path,
                                   std::size_t line_number) {
  std::vector<std::string> fields;
  SplitLineInto(line, delimiter, path, line_number, fields);
  return fields;
}

bool IsBlankLine(const std::string& line) {
  for (const char c : line) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

std::optional<Delimiter> SeparatorLine(const std::string& line) {
  const std::string text = Trimmed(line);
  if (text.size() != 5 || text.compare(0, 4, "sep=") != 0) return std::nullopt;
  switch (text[4]) {
    case ',':
      return Delimiter::kComma;
    case ';':
      return Delimiter::kSemicolon;
    case '\t':
      return Delimiter::kTab;
    case ' ':
      return Delimiter::kWhitespace;
  }
  return std::nullopt;
}

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string FromUtf16(const std::string& text, bool big_endian,
                      const std::string& path) {
  if (text.size() % 2 != 0) {
    throw Error(path + ": a UTF-16 text of an odd number of bytes");
  }
  std::string out;
  out.reserve(text.size());
  const auto unit = [&](std::size_t at) {
    const unsigned char a = static_cast<unsigned char>(text[at]);
    const unsigned char b = static_cast<unsigned char>(text[at + 1]);
    return static_cast<char32_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  };
  for (std::size_t at = 2; at < text.size(); at += 2) {  // after the BOM
    char32_t c = unit(at);
    if (c >= 0xD800 && c <= 0xDBFF && at + 3 < text.size()) {
      const char32_t low = unit(at + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      throw Error(path + ": a UTF-16 text with an unpaired surrogate");
    }
    AppendUtf8(out, c);
  }
  return out;
}

DelimitedRowReader::DelimitedRowReader(const std::string& text,
                                       const std::string& path)
    : text_(text), path_(path) {
  at_ = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
  bool separator_line_seen = false;
  bool delimiter_named = false;
  std::string line;
  while (NextLine(line)) {
    if (IsBlankLine(line)) continue;
    if (!separator_line_seen) {
      // A spreadsheet's first line "sep=;" names the delimiter.
      separator_line_seen = true;
      const std::optional<Delimiter> named = SeparatorLine(line);
      if (named) {
        delimiter_ = *named;
        delimiter_named = true;
        continue;
      }
    }
    if (!delimiter_named) delimiter_ = FindDelimiter(line);
    header_ = {line_number_, SplitLine(line, delimiter_, path_, line_number_)};
    return;
  }
  throw Error(path + ": no header row");
}

bool DelimitedRowReader::NextLine(std::string& line) {
  if (at_ >= text_.size()) return false;
  std::size_t end = text_.find('\n', at_);
  if (end == std::string::npos) end = text_.size();
  line.assign(text_, at_, end - at_);
  at_ = end + 1;
  ++line_number_;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool DelimitedRowReader::Next(DelimitedRow& row) {
  while (NextLine(line_)) {
    if (IsBlankLine(line_)) continue;
    row.line = line_number_;
    SplitLineInto(line_, delimiter_, path_, line_number_, row.fields);
    return true;
  }
  return false;
}

DelimitedText ReadDelimitedText(const std::string& text,
                                const std::string& path) {
  DelimitedRowReader reader(text, path);
  DelimitedText table;
  table.delimiter = reader.delimiter();
  table.header = reader.header();
  DelimitedRow row;
  while (reader.Next(row)) table.rows.push_back(row);
  return table;
}

std::string NumberText(const std::string& field, bool decimal_comma) {
  if (!decimal_comma) return field;
  const std::size_t comma = field.find(',');
  if (comma == std::string::npos || field.find(',', comma + 1) != std::string::npos ||
      field.find('.') != std::string::npos) {
    return field;
  }
  std::string text = field;
  text[comma] = '.';
  return text;
}

}  // namespace helmert
