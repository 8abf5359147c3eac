// Binary record files. A control block hides three storage strategies: direct (unbuffered)
// stdio access, a buffer of whole records in front of the file, and virtual files held wholly
// in the buffer until they outgrow it. Blocks live in a registry in opening order, so that the
// shutdown can flush and close whatever a program left open.
#include "runtime/biofile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

#include "runtime/frame.h"

// One record file.
struct biofile {
  FILE* file = nullptr;             // the disk file; null while suspended or not yet spilled
  std::int64_t file_size = -1;      // bytes in the file: measured at open, counted while writing
  std::int64_t buffer_offset = 0;   // file offset of the first byte of the buffer
  std::int64_t record_count = 0;    // records moved since the last (re)open or rewind
  std::unique_ptr<unsigned char[]> buffer;  // null: unbuffered
  unsigned char* current = nullptr;  // next byte to read, or where the next record goes
  unsigned char* end = nullptr;      // reading: end of valid data; writing: end of the buffer
  std::int64_t buffer_length = 0;    // bytes in the buffer, whole records when both are known
  int record_length = 0;             // length of a transfer that names none
  int mode = 0;                      // access bits 0-1 plus B_VIRTUAL
  std::string path;                  // file name; empty for a virtual file that never spilled
};

namespace {

// Largest buffer the "available memory" default may choose. Larger buffers only cost time:
// each refill then lands in fresh, uncached pages (sequential reading of 64-byte records runs
// at about a third of the speed with a 128 MiB buffer than with 4 MiB), and a small job never
// gets a huge allocation.
constexpr std::int64_t max_default_buffer = std::int64_t{4} << 20;
// Default buffer when the free memory cannot be measured.
constexpr std::int64_t fallback_default_buffer = max_default_buffer;

constexpr int access_mask = 3;

// Every control block, in opening order; the shutdown walks it from the front.
std::vector<std::unique_ptr<biofile>>& registry() {
  static std::vector<std::unique_ptr<biofile>> blocks;
  return blocks;
}

int access_of(const biofile& bf) { return bf.mode & access_mask; }
bool is_virtual(const biofile& bf) { return (bf.mode & B_VIRTUAL) != 0; }
bool is_writing(const biofile& bf) { return access_of(bf) == B_WRITE || access_of(bf) == B_APPEND; }

// Ends the run with "Can't <action> <path>".
[[noreturn]] void fail(const char* action, const biofile& bf) {
  error_exitf("Can't %s %s", action, bf.path.c_str());
}

// A twentieth of the free physical memory, capped so that small jobs stay small.
std::int64_t default_buffer_length() {
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return fallback_default_buffer;
  return std::min(static_cast<std::int64_t>(pages) * page_size / 20, max_default_buffer);
}

// Gives the block a buffer of its buffer length (none when the length is 0).
void allocate_buffer(biofile& bf) {
  bf.buffer.reset();
  if (bf.buffer_length <= 0) return;
  try {
    bf.buffer = std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(bf.buffer_length));
  } catch (const std::bad_alloc&) {
    error_exit("getmem not enough memory");
  }
}

// Creates a fresh temporary file in the system's temporary folder and opens it for writing.
void open_temporary(biofile& bf) {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder && *folder ? folder : "/tmp") + "/tessaryXXXXXX";
  const int descriptor = mkstemp(name.data());
  if (descriptor < 0) error_exit("Can't create temporary file name");
  bf.path = name;
  bf.file = fdopen(descriptor, "wb");
  if (!bf.file) {
    close(descriptor);
    fail("open", bf);
  }
}

void open_path(biofile& bf, const char* how) {
  bf.file = std::fopen(bf.path.c_str(), how);
  if (!bf.file) fail("open", bf);
}

// Measures the open file's size and returns to its start.
std::int64_t measure_size(biofile& bf) {
  if (fseeko(bf.file, 0, SEEK_END) != 0) fail("seek", bf);
  const off_t size = ftello(bf.file);
  if (size < 0 || fseeko(bf.file, 0, SEEK_SET) != 0) fail("seek", bf);
  return size;
}

// Reads the whole (already measured) file into the buffer; the disk file is not needed after.
void load_whole_file(biofile& bf) {
  const auto size = static_cast<std::size_t>(bf.file_size);
  if (size > 0 && std::fread(bf.buffer.get(), 1, size, bf.file) != size) fail("read", bf);
  std::fclose(bf.file);
  bf.file = nullptr;
}

// Writes the used part of a write buffer to the file; false when the write failed. The
// position is left alone, so that closing can keep the written bytes readable from the buffer.
bool write_used_part(biofile& bf) {
  const auto used = static_cast<std::size_t>(bf.current - bf.buffer.get());
  if (used == 0) return true;
  if (std::fwrite(bf.buffer.get(), 1, used, bf.file) != used) {
    // Nothing stays pending, so a later sweep does not write the same bytes a second time.
    bf.current = bf.buffer.get();
    return false;
  }
  bf.file_size += static_cast<std::int64_t>(used);
  return true;
}

// Closes the disk file; false when a write file failed to close (its last bytes are lost).
bool close_file(biofile& bf) {
  if (!bf.file) return true;
  FILE* file = bf.file;
  bf.file = nullptr;
  return std::fclose(file) == 0 || !is_writing(bf);
}

auto find_registered(const biofile* bf) {
  auto& blocks = registry();
  return std::find_if(blocks.begin(), blocks.end(), [bf](const auto& block) { return block.get() == bf; });
}

// ---- Creating. ----

void create_for_write(biofile& bf, const char* name) {
  if (name) {
    bf.path = name;
    if (!is_virtual(bf)) open_path(bf, "wb");
  } else if (!is_virtual(bf)) {
    open_temporary(bf);
  }
  bf.file_size = 0;
  allocate_buffer(bf);
  bf.current = bf.buffer.get();
  bf.end = bf.current + bf.buffer_length;
}

void create_for_append(biofile& bf, const char* name) {
  if (!name) error_exit("Missing bopen fname");
  bf.path = name;
  open_path(bf, "a+b");
  bf.file_size = measure_size(bf);
  bf.record_count = bf.record_length > 0 ? bf.file_size / bf.record_length : 0;
  allocate_buffer(bf);
  unsigned char* start = bf.buffer.get();
  if (is_virtual(bf) && bf.file_size <= bf.buffer_length) {
    // The buffer holds the file from its first byte; new records go after the old ones.
    load_whole_file(bf);
    bf.buffer_offset = 0;
    bf.current = start + bf.file_size;
  } else {
    bf.mode &= access_mask;
    bf.buffer_offset = bf.buffer ? bf.file_size : 0;
    bf.current = start;
  }
  bf.end = start + bf.buffer_length;
}

void create_for_read(biofile& bf, const char* name) {
  if (!name) error_exit("Missing bopen fname");
  bf.path = name;
  open_path(bf, "rb");
  bf.file_size = measure_size(bf);
  bf.buffer_length = std::min(bf.buffer_length, bf.file_size);
  allocate_buffer(bf);
  unsigned char* start = bf.buffer.get();
  if (is_virtual(bf) && bf.file_size <= bf.buffer_length) {
    // An empty file becomes an empty virtual file: the first read reports the end.
    load_whole_file(bf);
    bf.current = start;
    bf.end = start + bf.file_size;
  } else {
    bf.mode &= access_mask;
    bf.current = bf.end = start;
  }
}

biofile* create(const char* name, int mode, std::int64_t buffer_length, int record_length) {
  if ((mode & access_mask) == 0) error_exit("Invalid bopen mode");
  if (buffer_length < 0) buffer_length = default_buffer_length();
  if (record_length < 0) error_exit("Invalid bopen reclen");
  if (buffer_length > 0 && record_length > 0) {
    buffer_length = buffer_length / record_length * record_length;
    if (buffer_length <= record_length) buffer_length = 0;
  }

  auto& blocks = registry();
  blocks.push_back(std::make_unique<biofile>());
  biofile& bf = *blocks.back();
  bf.buffer_length = buffer_length;
  bf.record_length = record_length;
  bf.mode = mode & (access_mask | B_VIRTUAL);

  switch (mode & access_mask) {
    case B_WRITE: create_for_write(bf, name); break;
    case B_APPEND: create_for_append(bf, name); break;
    default: create_for_read(bf, name); break;
  }
  return &bf;
}

// ---- Reopening a suspended block. ----

void check_reopen(const biofile& bf, const char* name, int mode, std::int64_t buffer_length,
                  int record_length) {
  if (access_of(bf) != 0) fail("open", bf);
  if (name && bf.path != name) error_exit("Bopen and biofile fname different");
  // A negative length asks for the default, which the block already settled when created.
  if (buffer_length > 0 && buffer_length != bf.buffer_length) error_exit("Bopen and biofile buflen unequal");
  if (record_length != 0 && record_length != bf.record_length) error_exit("Bopen and biofile reclen unequal");
  if ((mode & B_VIRTUAL) && !is_virtual(bf)) error_exit("Bopen and biofile virtual modes inconsistent");
}

void reopen_for_write(biofile& bf) {
  if (!is_virtual(bf)) open_path(bf, "wb");
  bf.file_size = 0;
  bf.buffer_offset = 0;
  bf.record_count = 0;
  bf.current = bf.buffer.get();
  bf.end = bf.current + bf.buffer_length;
}

void reopen_for_append(biofile& bf) {
  unsigned char* start = bf.buffer.get();
  if (is_virtual(bf)) {
    // Writing continues after the data already in memory.
    bf.current = bf.end;
  } else {
    open_path(bf, "ab");
    bf.record_count = bf.record_length > 0 ? bf.file_size / bf.record_length : 0;
    bf.buffer_offset = bf.buffer ? bf.file_size : 0;
    bf.current = start;
  }
  bf.end = start + bf.buffer_length;
}

void reopen_for_read(biofile& bf) {
  bf.record_count = 0;
  unsigned char* start = bf.buffer.get();
  if (!is_virtual(bf)) {
    open_path(bf, "rb");
    if (bf.buffer_offset != 0) {
      // The buffer holds a later part of the file: start again from the file.
      bf.buffer_offset = 0;
      bf.end = start;
    } else if (bf.end != start && fseeko(bf.file, bf.end - start, SEEK_SET) != 0) {
      // The buffer still holds the file's first bytes: they are served first, and the file
      // continues after them.
      fail("seek", bf);
    }
  }
  bf.current = start;
}

biofile* reopen(const char* name, biofile* bf, int mode, std::int64_t buffer_length, int record_length) {
  if (find_registered(bf) == registry().end()) error_exit("Bopen biofile missing");
  if ((mode & access_mask) == 0) error_exit("Invalid bopen mode");
  check_reopen(*bf, name, mode, buffer_length, record_length);
  bf->mode |= mode & (access_mask | B_VIRTUAL);
  switch (mode & access_mask) {
    case B_WRITE: reopen_for_write(*bf); break;
    case B_APPEND: reopen_for_append(*bf); break;
    default: reopen_for_read(*bf); break;
  }
  return bf;
}

// ---- Transfers outside the buffered fast path. ----

void* read_unbuffered(biofile& bf, void* destination, std::size_t length) {
  if (!destination) {
    // Nothing to point into, but the end of the data is the end whatever the caller asked for:
    // an empty file opened with the default buffer (shrunk to its size, 0) reads as empty.
    if (ftello(bf.file) >= bf.file_size) return nullptr;
    fail("read", bf);
  }
  if (std::fread(destination, length, 1, bf.file) == 1) {
    ++bf.record_count;
    return destination;
  }
  // End of file, also inside a record, is the end of the data.
  if (std::feof(bf.file) && !std::ferror(bf.file)) return nullptr;
  fail("read", bf);
}

// Refills the buffer for a record that is not wholly in it. False at the end of the data.
bool refill(biofile& bf, std::int64_t length) {
  unsigned char* start = bf.buffer.get();
  const std::int64_t left = bf.end - bf.current;
  std::size_t got = 0;
  if (left > 0) {
    // A record split by the buffer's end: keep its first bytes and read the rest behind them.
    bf.buffer_offset += bf.current - start;
    std::memmove(start, bf.current, static_cast<std::size_t>(left));
    got = std::fread(start + left, 1, static_cast<std::size_t>(bf.buffer_length - left), bf.file);
    if (std::ferror(bf.file)) fail("read", bf);
    bf.end = start + left + got;
  } else {
    if (std::feof(bf.file)) return false;
    got = std::fread(start, 1, static_cast<std::size_t>(bf.buffer_length), bf.file);
    if (std::ferror(bf.file)) fail("read", bf);
    if (got == 0) return false;
    bf.buffer_offset += bf.end - start;
    bf.end = start + got;
  }
  bf.current = start;
  // The file ends in the middle of a record.
  if (bf.end - start < length) fail("read", bf);
  return true;
}

void* read_slow(biofile& bf, void* destination, int length) {
  if (access_of(bf) != B_READ || length <= 0) fail("read", bf);
  if (is_virtual(bf)) {
    if (bf.current >= bf.end) return nullptr;
    fail("read", bf);
  }
  if (!bf.buffer) return read_unbuffered(bf, destination, static_cast<std::size_t>(length));
  if (length > bf.buffer_length) fail("read", bf);
  if (!refill(bf, length)) return nullptr;
  unsigned char* record = bf.current;
  bf.current += length;
  ++bf.record_count;
  if (destination) std::memcpy(destination, record, static_cast<std::size_t>(length));
  return record;
}

// A virtual file that outgrows its buffer becomes an ordinary buffered write file.
void spill(biofile& bf) {
  if (bf.path.empty()) {
    open_temporary(bf);
  } else {
    open_path(bf, "wb");
  }
  bf.mode &= access_mask;
  bf.file_size = 0;
  bf.buffer_offset = 0;
}

void* write_slow(biofile& bf, const void* source, int length) {
  if (!is_writing(bf) || length <= 0) fail("write", bf);
  if (bf.buffer && length > bf.buffer_length) fail("write", bf);
  if (is_virtual(bf)) spill(bf);
  if (!bf.buffer) {
    if (!source || std::fwrite(source, static_cast<std::size_t>(length), 1, bf.file) != 1) {
      fail("write", bf);
    }
    bf.file_size += length;
    ++bf.record_count;
    return const_cast<void*>(source);
  }
  const std::int64_t used = bf.current - bf.buffer.get();
  if (!write_used_part(bf)) fail("write", bf);
  bf.buffer_offset += used;
  bf.current = bf.buffer.get();
  unsigned char* record = bf.current;
  if (source) std::memcpy(record, source, static_cast<std::size_t>(length));
  bf.current += length;
  ++bf.record_count;
  return record;
}

// ---- Closing. ----

void rewind_file(biofile& bf) {
  if (is_writing(bf)) fail("rewind", bf);
  if (access_of(bf) == 0) return;
  unsigned char* start = bf.buffer.get();
  if (!is_virtual(bf) && (!start || bf.buffer_offset > 0)) {
    if (fseeko(bf.file, 0, SEEK_SET) != 0) fail("rewind", bf);
    bf.buffer_offset = 0;
    bf.end = start;
  }
  bf.record_count = 0;
  bf.current = start;
}

// Flushes pending writes (unless told not to) and closes the disk file; the block stays
// usable for a reopen. False when written data could not be stored.
bool suspend(biofile& bf, bool keep_written) {
  if (access_of(bf) == 0) return true;
  bool stored = true;
  if (is_writing(bf) && !is_virtual(bf) && keep_written && bf.file && bf.buffer) stored = write_used_part(bf);
  stored = close_file(bf) && stored;
  if (is_writing(bf)) bf.end = bf.current;
  bf.current = bf.buffer.get();
  bf.mode &= B_VIRTUAL;
  return stored;
}

void release(biofile* bf) {
  auto& blocks = registry();
  auto found = find_registered(bf);
  if (found != blocks.end()) blocks.erase(found);
}

}  // namespace

biofile* bopen(const char* name, biofile* bf, int mode, std::int64_t buffer_length, int record_length) {
  return bf ? reopen(name, bf, mode, buffer_length, record_length)
            : create(name, mode, buffer_length, record_length);
}

// The common case, a record wholly inside the buffer, is a bounds check and a copy.
void* bread(biofile* bf, void* destination, int length) {
  if (length <= 0) length = bf->record_length;
  unsigned char* record = bf->current;
  if ((bf->mode & access_mask) == B_READ && length > 0 && bf->end - record >= length) {
    bf->current = record + length;
    ++bf->record_count;
    if (destination) std::memcpy(destination, record, static_cast<std::size_t>(length));
    return record;
  }
  return read_slow(*bf, destination, length);
}

unsigned char* bread_records(biofile* bf, std::int64_t& count) {
  count = 0;
  const int length = bf->record_length;
  if (access_of(*bf) != B_READ || length <= 0) fail("read", *bf);
  if (bf->end - bf->current < length) {
    if (is_virtual(*bf)) {
      if (bf->current >= bf->end) return nullptr;
      fail("read", *bf);
    }
    // Without a buffer there is nothing to point into: only the end of the data can be told.
    if (!bf->buffer) return static_cast<unsigned char*>(read_unbuffered(*bf, nullptr, static_cast<std::size_t>(length)));
    if (!refill(*bf, length)) return nullptr;
  }
  unsigned char* first = bf->current;
  count = (bf->end - first) / length;
  bf->current = first + count * length;
  bf->record_count += count;
  return first;
}

void* bwrite(biofile* bf, const void* source, int length) {
  if (length <= 0) length = bf->record_length;
  unsigned char* record = bf->current;
  if ((bf->mode & access_mask) >= B_WRITE && length > 0 && bf->end - record >= length) {
    bf->current = record + length;
    ++bf->record_count;
    if (source) std::memcpy(record, source, static_cast<std::size_t>(length));
    return record;
  }
  return write_slow(*bf, source, length);
}

int bseek(biofile* bf, std::int64_t offset, int whence) {
  if (access_of(*bf) != B_READ) fail("seek", *bf);
  if (!bf->buffer && !is_virtual(*bf)) {
    if (fseeko(bf->file, offset, whence == 1 ? SEEK_CUR : SEEK_SET) != 0) fail("seek", *bf);
    return 0;
  }
  unsigned char* start = bf->buffer.get();
  // Target as an index into the buffer; it may lie outside.
  const std::int64_t index = whence == 1 ? (bf->current - start) + offset : offset - bf->buffer_offset;
  if (index >= 0 && index <= bf->end - start) {
    bf->current = start + index;
    return 0;
  }
  if (is_virtual(*bf)) return 1;

  // Load the buffer-aligned block that holds the target.
  const std::int64_t position = bf->buffer_offset + index;
  // The end of the file is a valid target; a target past it is refused.
  if (position < 0 || position > bf->file_size) fail("seek", *bf);
  const std::int64_t block = position / bf->buffer_length * bf->buffer_length;
  if (fseeko(bf->file, block, SEEK_SET) != 0) fail("seek", *bf);
  const std::size_t got = std::fread(start, 1, static_cast<std::size_t>(bf->buffer_length), bf->file);
  if (std::ferror(bf->file) || position - block > static_cast<std::int64_t>(got)) {
    fail("seek", *bf);
  }
  bf->buffer_offset = block;
  bf->current = start + (position - block);
  bf->end = start + got;
  return 0;
}

void bclose(biofile* bf, int how) {
  if (!bf) return;
  if (how == B_REWIND) {
    rewind_file(*bf);
    return;
  }
  if (!suspend(*bf, how != B_DELETE)) fail("write", *bf);
  if (how == B_CLOSE) return;
  if (how == B_DELETE && !is_virtual(*bf) && !bf->path.empty()) std::remove(bf->path.c_str());
  release(bf);
}

void bdiscard(biofile* bf) {
  if (!bf || find_registered(bf) == registry().end()) return;
  suspend(*bf, true);
  release(bf);
}

const char* bpath(const biofile* bf) { return bf->path.c_str(); }
std::int64_t bfile_size(const biofile* bf) { return bf->file_size; }
std::int64_t brecord_count(const biofile* bf) { return bf->record_count; }
std::int64_t bbuffer_length(const biofile* bf) { return bf->buffer_length; }
int bmode(const biofile* bf) { return bf->mode; }

void release_record_files() {
  auto& blocks = registry();
  // Every file is flushed and closed before a failure is reported, so that one full disk
  // does not cost the other files their last records.
  std::string failed;
  for (auto& bf : blocks) {
    if (!suspend(*bf, true) && failed.empty()) failed = bf->path;
  }
  blocks.clear();
  if (!failed.empty()) error_exitf("Can't write %s", failed.c_str());
}
