// Streaming line reader, delimited-record splitter and number parsing of getdata.
#include "getdata/text_input.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/frame.h"
#include "runtime/numbers.h"

namespace {

// Size of the line reader's buffer; lines longer than this grow it. Small enough that the lines
// stay in the processor's cache from the kernel's copy to their conversion.
constexpr std::size_t read_chunk = 256 << 10;

}  // namespace

// ---- LineReader ----

LineReader::LineReader(const std::string& path) : path_(path), buffer_(read_chunk) {
  file_ = open_tracked(path.c_str(), "rb");
  if (file_ == nullptr) error_exitf("Can't open input file %s", path.c_str());
}

LineReader::~LineReader() {
  if (file_ != nullptr) close_tracked(file_);
}

void LineReader::rewind() {
  std::rewind(file_);
  begin_ = end_ = 0;
  at_eof_ = false;
  begun_ = false;
  bytes_read_ = 0;
}

void LineReader::begin_file() {
  begun_ = true;
  if (end_ == begin_) refill();
  std::string_view data(buffer_.data() + begin_, end_ - begin_);
  if (data.starts_with("\xEF\xBB\xBF")) {
    begin_ += 3;
    bytes_read_ += 3;
    data.remove_prefix(3);
  }
  // A file whose first line ends in a lone "\r" (not "\r\n") uses "\r" as its line end;
  // reading it by "\n" would make the whole file one line.
  std::size_t first = data.find_first_of("\r\n");
  if (first != std::string_view::npos && data[first] == '\r' &&
      (first + 1 < data.size() ? data[first + 1] != '\n' : at_eof_))
    line_end_ = '\r';
}

bool LineReader::refill() {
  if (at_eof_) return false;
  std::size_t rest = end_ - begin_;
  if (begin_ > 0 && rest > 0) std::memmove(buffer_.data(), buffer_.data() + begin_, rest);
  begin_ = 0;
  end_ = rest;
  if (end_ == buffer_.size()) {
    if (end_ >= max_record_bytes)
      error_exitf("Input file %s has a line longer than %zu MB: is it a text file?", path_.c_str(),
                  max_record_bytes >> 20);
    buffer_.resize(buffer_.size() * 2);
  }
  std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
  if (got == 0) {
    if (std::ferror(file_)) error_exitf("Can't read input file %s", path_.c_str());
    at_eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool LineReader::next(std::string_view& line) {
  if (!begun_) begin_file();
  std::size_t searched = begin_;
  for (;;) {
    const char* start = buffer_.data() + searched;
    const void* newline = std::memchr(start, line_end_, end_ - searched);
    if (newline != nullptr) {
      std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(newline) - buffer_.data());
      std::size_t length = stop - begin_;
      bytes_read_ += static_cast<long long>(length + 1);
      if (length > 0 && buffer_[stop - 1] == '\r') --length;
      line = std::string_view(buffer_.data() + begin_, length);
      begin_ = stop + 1;
      return true;
    }
    std::size_t offset = end_ - begin_;
    if (!refill()) {
      // The last line may lack its line end.
      if (begin_ == end_) return false;
      std::size_t length = end_ - begin_;
      bytes_read_ += static_cast<long long>(length);
      if (buffer_[end_ - 1] == '\r') --length;
      line = std::string_view(buffer_.data() + begin_, length);
      begin_ = end_;
      return true;
    }
    searched = begin_ + offset;
  }
}

// ---- FieldSplitter ----

FieldSplitter::FieldSplitter(const std::string& delimiters) {
  for (unsigned char c : delimiters) {
    if (is_delimiter_[c]) continue;
    is_delimiter_[c] = true;
    if (distinct_ < max_compared_delimiters) compared_[distinct_] = static_cast<char>(c);
    ++distinct_;
  }
  blank_delimits_ = is_delimiter_[static_cast<unsigned char>(' ')];
}

[[gnu::always_inline]] inline const char* FieldSplitter::find_delimiter(const char* p, const char* end) const {
#if defined(__SSE2__)
  // Sixteen bytes at a time, compared with each delimiter at once.
  if (distinct_ > 0 && distinct_ <= max_compared_delimiters) {
    __m128i wanted[max_compared_delimiters];
    for (int k = 0; k < distinct_; ++k) wanted[k] = _mm_set1_epi8(compared_[k]);
    for (; end - p >= 16; p += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      __m128i hits = _mm_cmpeq_epi8(block, wanted[0]);
      for (int k = 1; k < distinct_; ++k) hits = _mm_or_si128(hits, _mm_cmpeq_epi8(block, wanted[k]));
      if (const int mask = _mm_movemask_epi8(hits); mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
  }
#endif
  while (p < end && !is_delimiter_[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

void FieldSplitter::split_unquoted(std::string_view record, std::vector<Field>& fields) const {
  const char* p = record.data();
  const char* end = p + record.size();
  for (;;) {
    const char* start = p;
    p = find_delimiter(p, end);
    fields.push_back(Field{trim_blanks(std::string_view(start, static_cast<std::size_t>(p - start)))});
    if (p == end) return;
    ++p;  // a delimiter at the very end leaves an empty last field
  }
}

bool FieldSplitter::split(std::string_view record, std::vector<Field>& fields) {
  fields.clear();
  if (record.empty()) return true;  // an empty record has no fields
  // Most records hold no quote: their fields are just the texts between delimiters.
  if (!blank_delimits_ && std::memchr(record.data(), '"', record.size()) == nullptr) {
    split_unquoted(record, fields);
    return true;
  }
  unquoted_.clear();
  unquoted_.reserve(record.size());  // views into it must not move while splitting
  const char* p = record.data();
  const char* end = p + record.size();
  auto skip_blanks = [&] {
    while (p < end && *p == ' ') ++p;
  };
  if (blank_delimits_) skip_blanks();
  if (p == end) return true;  // an empty record has no fields
  for (;;) {
    if (!blank_delimits_) skip_blanks();
    Field field;
    const char* opening = p;  // where the field's raw text begins
    if (p < end && *p == '"') {
      field.quoted = true;
      const char* start = ++p;
      bool doubled = false;
      for (;;) {
        const void* quote = std::memchr(p, '"', static_cast<std::size_t>(end - p));
        if (quote == nullptr) return false;  // the quote goes on in the next line
        p = static_cast<const char*>(quote) + 1;
        if (p < end && *p == '"') {
          doubled = true;
          ++p;
          continue;
        }
        break;
      }
      std::string_view inner(start, static_cast<std::size_t>(p - 1 - start));
      if (doubled) {
        std::size_t from = unquoted_.size();
        for (std::size_t i = 0; i < inner.size(); ++i) {
          unquoted_ += inner[i];
          if (inner[i] == '"') ++i;
        }
        field.text = std::string_view(unquoted_.data() + from, unquoted_.size() - from);
      } else {
        field.text = inner;
      }
      // Blanks between the closing quote and the delimiter are ignored.
      skip_blanks();
    } else {
      const char* start = p;
      p = find_delimiter(p, end);
      field.text = std::string_view(start, static_cast<std::size_t>(p - start));
      if (!blank_delimits_) field.text = trim_blanks(field.text);
    }
    fields.push_back(field);
    if (blank_delimits_) {
      skip_blanks();
      if (p == end) return true;
      if (*p != ' ' && is_delimiter_[static_cast<unsigned char>(*p)]) {
        ++p;
        skip_blanks();
      }
      continue;
    }
    if (p == end) return true;
    if (is_delimiter_[static_cast<unsigned char>(*p)]) {
      ++p;
      if (p == end) {
        fields.push_back(Field{});  // a delimiter at the end leaves an empty last field
        return true;
      }
      continue;
    }
    // Text glued to a closing quote belongs to no field: the field keeps its raw text and is
    // marked, so that the caller reports it instead of storing part of it.
    p = find_delimiter(p, end);
    fields.back().text = std::string_view(opening, static_cast<std::size_t>(p - opening));
    fields.back().quoted = false;
    fields.back().stray = true;
    if (p == end) return true;
    ++p;
  }
}

// ---- Numbers ----

namespace {

// Powers of ten that a double holds exactly.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int largest_exact_power = 22;
// Every whole number up to 2^53 is a double.
constexpr std::uint64_t largest_exact_integer = std::uint64_t{1} << 53;
// Digits that a 64-bit mantissa always holds.
constexpr int mantissa_digits = 19;
// Exponent digits read by the short form; longer exponents go to the general conversion.
constexpr int exponent_digits = 4;
// Powers of ten that scale a mantissa before up to eight more digits join it.
constexpr std::uint64_t digit_scale[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
// Words whose top 0 to 8 bytes are all ones.
constexpr std::uint64_t top_bytes[] = {0,
                                       0xFF00000000000000ULL,
                                       0xFFFF000000000000ULL,
                                       0xFFFFFF0000000000ULL,
                                       0xFFFFFFFF00000000ULL,
                                       0xFFFFFFFFFF000000ULL,
                                       0xFFFFFFFFFFFF0000ULL,
                                       0xFFFFFFFFFFFFFF00ULL,
                                       0xFFFFFFFFFFFFFFFFULL};
// The same byte in all eight bytes of a word.
constexpr std::uint64_t every_byte(std::uint8_t byte) { return 0x0101010101010101ULL * byte; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The bytes of a word (digits turned into 0 to 9) that are not digits: each keeps a bit of its
// high half, or overflows its low half when 6 is added.
constexpr std::uint64_t non_digits(std::uint64_t values) {
  return (values | ((values & every_byte(0x0F)) + every_byte(6))) & every_byte(0xF0);
}

// Up to eight bytes of `text` from `from` on as a word, the first byte lowest; bytes past the
// text's end read as zero. Every load stays inside the text: a text of eight bytes or more is
// read through words that end at its end.
[[gnu::always_inline]] inline std::uint64_t load_word(std::string_view text, std::size_t from) {
  const std::size_t left = text.size() - from;
  std::uint64_t word = 0;
  if (left == 0) return 0;
  if (std::endian::native == std::endian::little && text.size() >= 8) {
    if (left >= 8) {
      std::memcpy(&word, text.data() + from, 8);
      return word;
    }
    std::memcpy(&word, text.data() + text.size() - 8, 8);
    return word >> (8 * (8 - left));
  }
  for (std::size_t i = 0; i < left && i < 8; ++i)
    word |= static_cast<std::uint64_t>(static_cast<unsigned char>(text[from + i])) << (8 * i);
  return word;
}

// The value of eight decimal digits (0 to 9 each, the first, most significant, lowest),
// combined pairwise in three multiplications.
std::uint64_t eight_digit_value(std::uint64_t digits) {
  digits = digits * 10 + (digits >> 8);  // pairs of digits in every other byte
  constexpr std::uint64_t low_pairs = 0x000000FF000000FFULL;
  constexpr std::uint64_t pair_scale = 100 + (1000000ULL << 32);
  constexpr std::uint64_t next_pair_scale = 1 + (10000ULL << 32);
  return ((((digits & low_pairs) * pair_scale) + (((digits >> 16) & low_pairs) * next_pair_scale)) >> 32) & 0xFFFFFFFFULL;
}

// The values of two words of eight decimal digits each (as for eight_digit_value), converted
// side by side.
[[gnu::always_inline]] inline void two_eight_digit_values(std::uint64_t first, std::uint64_t second, std::uint64_t& first_value,
                                                          std::uint64_t& second_value) {
#if defined(__SSE2__)
  // One digit per 16-bit lane, then pairs, fours and eights each by one multiply-add of
  // neighbouring lanes (the more significant lane first, weighted 10, 100 and 10000).
  const __m128i digits = _mm_set_epi64x(static_cast<long long>(second), static_cast<long long>(first));
  const __m128i zero = _mm_setzero_si128();
  const __m128i tens = _mm_set1_epi32(0x0001000A);
  const __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(digits, zero), tens),
                                        _mm_madd_epi16(_mm_unpackhi_epi8(digits, zero), tens));
  const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00010064));
  const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x00012710));
  first_value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(eights));
  second_value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(eights, 4)));
#else
  first_value = eight_digit_value(first);
  second_value = eight_digit_value(second);
#endif
}

// Reads the run of digits at `at` into `mantissa` (eight at a time) and advances `at` past it,
// counting them in `count`; false when the run makes more digits than the mantissa holds.
[[gnu::always_inline]] inline bool read_digits(std::string_view text, std::size_t& at, std::uint64_t& mantissa, int& count) {
  for (;;) {
    // Bytes past the text count as non-digits.
    const std::uint64_t values = load_word(text, at) ^ every_byte('0');
    const std::uint64_t other = non_digits(values);
    const int run = other == 0 ? 8 : std::countr_zero(other) / 8;
    if (run == 0) return true;
    count += run;
    if (count > mantissa_digits) return false;
    // The run's digits move to the top bytes; the bytes below them stand for leading zeros.
    mantissa = mantissa * digit_scale[run] + eight_digit_value(values << (8 * (8 - run)));
    at += static_cast<std::size_t>(run);
    if (run < 8) return true;
  }
}

// The usual form of a data value, digits, a point and at most eight digits, in a text of 8 to
// 16 bytes: both digit runs are read from two words loaded at once (one from the start, one
// ending at the end), so that neither waits for the other. False when the text has another
// form; nothing is decided then.
[[gnu::always_inline]] inline bool read_point_form(std::string_view text, std::uint64_t& mantissa, int& exponent) {
  const std::size_t size = text.size();
  if (std::endian::native != std::endian::little || size < 8 || size > 16) return false;
  std::uint64_t head = 0;
  std::uint64_t tail = 0;
  std::memcpy(&head, text.data(), 8);
  std::memcpy(&tail, text.data() + size - 8, 8);
  head ^= every_byte('0');
  tail ^= every_byte('0');
  const std::uint64_t head_others = non_digits(head);
  if (head_others == 0) return false;  // eight digits or more before any point
  const int whole = std::countr_zero(head_others) / 8;
  const int fraction = static_cast<int>(size) - whole - 1;
  if (text[static_cast<std::size_t>(whole)] != '.' || fraction > 8) return false;
  // The fraction's digits are the last `fraction` bytes of the tail; the bytes before them
  // become leading zeros.
  const std::uint64_t fraction_bytes = top_bytes[fraction];
  if ((non_digits(tail) & fraction_bytes) != 0 || whole + fraction == 0) return false;
  // At most seven whole digits: the shift in two steps never reaches 64.
  std::uint64_t whole_value = 0;
  std::uint64_t fraction_value = 0;
  two_eight_digit_values((head << (8 * (7 - whole))) << 8, tail & fraction_bytes, whole_value, fraction_value);
  mantissa = whole_value * digit_scale[fraction] + fraction_value;
  exponent = -fraction;
  return true;
}

// Reads any other short decimal number: digit runs with an optional point, then an optional
// exponent of at most four digits. False when the text is not of that form or has more digits
// than the mantissa holds.
bool read_general_form(std::string_view text, std::uint64_t& mantissa, int& exponent) {
  std::size_t at = 0;
  const std::size_t size = text.size();
  int digits = 0;
  if (!read_digits(text, at, mantissa, digits)) return false;
  if (at < size && text[at] == '.') {
    const int whole = digits;
    ++at;
    if (!read_digits(text, at, mantissa, digits)) return false;
    exponent = whole - digits;
  }
  if (digits == 0) return false;
  if (at < size && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    bool negative_exponent = false;
    if (at < size && (text[at] == '-' || text[at] == '+')) negative_exponent = text[at++] == '-';
    const std::size_t first = at;
    int written = 0;
    for (; at < size && is_digit(text[at]) && at - first < exponent_digits; ++at) written = written * 10 + (text[at] - '0');
    if (at == first || (at < size && is_digit(text[at]))) return false;
    exponent += negative_exponent ? -written : written;
  }
  return at == size;
}

// Converts the short decimal numbers that data files are mostly made of without the general
// routine: a mantissa of at most 2^53 and a power of ten within 10^22 are both exact doubles,
// so one multiplication or division, rounded once, is the correctly rounded value (and cannot
// overflow). False when the text is not of that kind, including when it is no number at all;
// the general conversion then decides.
[[gnu::always_inline]] inline bool parse_short_decimal(std::string_view text, double& value) {
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (negative || text.front() == '+')) text.remove_prefix(1);
  std::uint64_t mantissa = 0;
  int exponent = 0;
  if (!read_point_form(text, mantissa, exponent) && !read_general_form(text, mantissa, exponent)) return false;
  if (mantissa > largest_exact_integer) return false;
  // Signed conversion: the mantissa fits, and it needs no test of the top bit.
  double magnitude = static_cast<double>(static_cast<std::int64_t>(mantissa));
  if (exponent < 0 && exponent >= -largest_exact_power) {
    magnitude /= exact_powers_of_ten[-exponent];
  } else if (exponent >= 0 && exponent <= largest_exact_power) {
    magnitude *= exact_powers_of_ten[exponent];
  } else if (mantissa != 0) {
    return false;
  }
  value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

bool parse_trimmed_number(std::string_view text, double& value) {
  return parse_short_decimal(text, value) || parse_double(text, value);
}

bool parse_number(std::string_view text, double& value) { return parse_trimmed_number(trim_blanks(text), value); }

bool parse_implied_decimals(std::string_view text, int decimals, double& value) {
  text = trim_blanks(text);
  if (decimals == 0 || text.find_first_of(".eE") != std::string_view::npos)
    return parse_number(text, value);
  // Write the point in: sign, digits padded with zeros to more than `decimals`, the point, and
  // the last `decimals` digits.
  char buffer[128];
  std::size_t length = 0;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    buffer[length++] = text.front();
    text.remove_prefix(1);
  }
  std::size_t places = static_cast<std::size_t>(decimals);
  if (text.empty() || text.size() + places + 3 > sizeof buffer) return false;
  // Digits with leading zeros so that at least one digit stands before the point.
  char digits[128];
  std::size_t count = 0;
  for (std::size_t pad = text.size(); pad <= places; ++pad) digits[count++] = '0';
  std::memcpy(digits + count, text.data(), text.size());
  count += text.size();
  std::size_t whole = count - places;
  std::memcpy(buffer + length, digits, whole);
  length += whole;
  buffer[length++] = '.';
  std::memcpy(buffer + length, digits + whole, places);
  length += places;
  return parse_number(std::string_view(buffer, length), value);
}

namespace {

// The first `byte` at or after p, or end when none comes.
[[gnu::always_inline]] inline const char* find_byte(const char* p, const char* end, char byte) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi8(byte);
  for (; end - p >= 16; p += 16) {
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), wanted));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
#endif
  while (p < end && *p != byte) ++p;
  return p;
}

// The commonest field of all, an optional minus sign, digits, a point and up to eight digits, in 8
// to 16 bytes after the sign: converted with nothing kept in memory, so that the loop over a
// record's fields stays in registers. False for any other form; nothing is decided then.
[[gnu::always_inline]] inline bool convert_point_field(const char* text, std::size_t size, double& value) {
  const bool negative = size > 0 && *text == '-';
  text += negative;
  size -= negative;
  std::uint64_t mantissa = 0;
  int exponent = 0;
  if (!read_point_form(std::string_view(text, size), mantissa, exponent)) return false;
  // At most fifteen digits: the mantissa is below 2^53, and -exponent at most eight.
  const double magnitude = static_cast<double>(static_cast<std::int64_t>(mantissa)) / exact_powers_of_ten[-exponent];
  value = negative ? -magnitude : magnitude;
  return true;
}

// Every other short decimal field, with or without blanks around it.
[[gnu::noinline]] bool convert_other_field(std::string_view text, double& value) {
  return parse_short_decimal(text, value) || parse_short_decimal(trim_blanks(text), value);
}

// Splits `record` at the delimiters that `find` finds into exactly values.size() short decimal
// numbers, blanks around them allowed; false when the record is not of that kind.
template <typename FindDelimiter>
[[gnu::always_inline]] inline bool convert_numbers(std::string_view record, std::span<double> values, FindDelimiter find) {
  const char* p = record.data();
  const char* const end = p + record.size();
  double* value = values.data();
  double* const last = value + values.size() - 1;
  for (;; ++value) {
    const char* start = p;
    p = find(p, end);
    const auto size = static_cast<std::size_t>(p - start);
    // Blanks are no part of a number: the field is trimmed only when it has them. A quoted
    // field, an empty one or one of text is refused either way.
    if (!convert_point_field(start, size, *value) && !convert_other_field(std::string_view(start, size), *value))
      return false;
    if (p == end) return value == last;
    if (value == last) return false;  // more fields than values
    ++p;
  }
}

}  // namespace

bool FieldSplitter::split_numbers(std::string_view record, std::span<double> values) const {
  if (blank_delimits_ || values.empty()) return false;
  if (distinct_ == 1)
    return convert_numbers(record, values, [byte = compared_[0]](const char* p, const char* end) { return find_byte(p, end, byte); });
  return convert_numbers(record, values, [this](const char* p, const char* end) { return find_delimiter(p, end); });
}
