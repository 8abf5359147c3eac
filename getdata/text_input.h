// Text input of getdata: a streaming line reader, the splitter of delimited records and the
// number parser shared by every input layout.
#pragma once

#include <cstddef>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Longest text line or delimited record accepted; longer ones are taken for a file that is not
// text (or a quote left open) rather than grown into memory.
inline constexpr std::size_t max_record_bytes = std::size_t{64} << 20;

// Reads a text file line by line through a large buffer. Lines end at "\n" (a "\r" before it is
// dropped), or at "\r" in a file whose first line end is a lone "\r"; a UTF-8 byte-order mark at
// the start of the file is skipped. A line stays valid until the next call.
class LineReader {
 public:
  explicit LineReader(const std::string& path);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The next line; false at the end of the file.
  bool next(std::string_view& line);
  // Starts again from the first line.
  void rewind();
  // Bytes of the file read so far.
  long long bytes_read() const { return bytes_read_; }

 private:
  // Moves the unread rest to the buffer start and fills the buffer; false when nothing came.
  bool refill();
  // At the start of the file: skips a byte-order mark and finds which character ends lines.
  void begin_file();

  std::string path_;              // the file's path, for messages
  std::FILE* file_ = nullptr;     // the open file
  std::vector<char> buffer_;      // read buffer; grows for lines longer than it
  std::size_t begin_ = 0;         // start of the unread data
  std::size_t end_ = 0;           // end of the valid data
  bool at_eof_ = false;           // the file has been read to its end
  bool begun_ = false;            // begin_file has run since the last (re)start
  char line_end_ = '\n';          // the character that ends a line
  long long bytes_read_ = 0;      // bytes handed out as lines (with their line ends)
};

// One field of a delimited record.
struct Field {
  std::string_view text;  // the field's text, quotes removed and doubled quotes undoubled
  bool quoted = false;    // the field was written between double quotes
  bool stray = false;     // text followed the closing quote (text then holds it all, raw)
};

// Splits delimited records into fields. A field between double quotes may hold delimiters and
// doubled quotes. When blank is a delimiter, runs of blanks and blanks around another delimiter
// count as one delimiter; otherwise unquoted fields lose their leading and trailing blanks.
class FieldSplitter {
 public:
  explicit FieldSplitter(const std::string& delimiters);

  // Splits `record` into `fields` (views into `record` or into the splitter's own storage,
  // valid until the next call). False when a quote is still open at the end of the record.
  bool split(std::string_view record, std::vector<Field>& fields);
  // Splits a record of unquoted short decimal numbers ("-123.456", "7", "1.5e3") into exactly
  // values.size() fields and converts each as parse_number would, in one pass without any
  // Field. False when the record is of any other kind (quotes, blank among the delimiters,
  // another number of fields, an empty field, text, a number of a less usual form); `values`
  // then holds nothing useful and the record takes the general way through split.
  bool split_numbers(std::string_view record, std::span<double> values) const;

 private:
  // Most delimiters that the vector scan compares with; more are looked up one byte at a time.
  static constexpr int max_compared_delimiters = 4;

  // The first delimiter at or after p, or end when none comes.
  const char* find_delimiter(const char* p, const char* end) const;
  // Splits a record that holds no double quote, with blank not among the delimiters.
  void split_unquoted(std::string_view record, std::vector<Field>& fields) const;

  bool is_delimiter_[256] = {};   // delimiter characters
  char compared_[max_compared_delimiters] = {};  // the distinct delimiters, for the vector scan
  int distinct_ = 0;              // number of distinct delimiters
  bool blank_delimits_ = false;   // blank is one of the delimiters
  std::string unquoted_;          // storage of fields that held doubled quotes
};

// Parses a whole text (blanks around it allowed) as a finite decimal number, correctly rounded.
// Texts such as "nan", "inf", hexadecimal or numbers too large for a double are not numbers
// here; a number too small for a double reads as zero.
bool parse_number(std::string_view text, double& value);
// As parse_number, for a text without surrounding blanks.
bool parse_trimmed_number(std::string_view text, double& value);

// Parses numeric text with `decimals` implied decimals: a text without a decimal point or an
// exponent is divided by 10^decimals, exactly as if the point had been written.
bool parse_implied_decimals(std::string_view text, int decimals, double& value);

// The text without leading and trailing blanks (and tabs).
inline std::string_view trim_blanks(std::string_view text) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}
