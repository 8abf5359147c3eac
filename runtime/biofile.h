// Binary record files: unbuffered, buffered and in-memory (virtual) files behind one control
// block. Every failure ends the run with a message that names the file.
#pragma once

#include <cstdint>
#include <utility>

// Access modes (bits 0-1) and the virtual bit.
inline constexpr int B_READ = 1;
inline constexpr int B_WRITE = 2;
inline constexpr int B_APPEND = 3;
inline constexpr int B_VIRTUAL = 4;

// bclose modes.
inline constexpr int B_REWIND = 0;
inline constexpr int B_CLOSE = 1;
inline constexpr int B_RELEASE = 2;
inline constexpr int B_DELETE = 3;

struct biofile;

// Creates a record file (bf null) or reopens a suspended one. Buffer length -1: a twentieth of
// the available physical memory; 0: unbuffered. Record length 0: each transfer names its length.
biofile* bopen(const char* name, biofile* bf, int mode, std::int64_t buffer_length, int record_length);

// Buffer length for a file streamed from start to end: large enough for few system calls, small
// enough to stay in the processor's cache between the kernel's copy and the program's use of it.
inline constexpr std::int64_t streaming_buffer = 1 << 20;
// Reads one record (length <= 0: the record length); null at the end of the data.
// A null destination returns a pointer into the buffer, valid until the next call.
void* bread(biofile* bf, void* destination, int length);
// Reads the whole records that follow in the buffer (refilling it when none is left) and
// returns the first; `count` tells how many. Null with a count of 0 at the end of the data.
// For files with a fixed record length; the records stay valid until the next read.
unsigned char* bread_records(biofile* bf, std::int64_t& count);
// Writes one record; a null source returns where the caller must put the bytes.
void* bwrite(biofile* bf, const void* source, int length);
// Whence 1: relative to the current position; otherwise absolute. 1 when a virtual file's
// target is outside its data, else 0.
int bseek(biofile* bf, std::int64_t offset, int whence);
void bclose(biofile* bf, int how);

// Read-only views of a control block.
const char* bpath(const biofile* bf);
std::int64_t bfile_size(const biofile* bf);
std::int64_t brecord_count(const biofile* bf);
std::int64_t bbuffer_length(const biofile* bf);
int bmode(const biofile* bf);

// Flushes what it can and releases the block without reporting a failure; for owners that are
// destroyed while an error unwinds (their outputs are discarded anyway).
void bdiscard(biofile* bf);

// Flushes and releases every record file (nothing is deleted); used by release_all.
void release_record_files();

// Owner of one record file: the file is released when the owner goes away, so that an error
// unwinding through a routine closes the files it opened. `close` is the orderly end, which
// reports a failed write.
class RecordFile {
 public:
  RecordFile() = default;
  RecordFile(const char* name, int mode, std::int64_t buffer_length, int record_length)
      : bf_(bopen(name, nullptr, mode, buffer_length, record_length)) {}
  ~RecordFile() { bdiscard(bf_); }
  RecordFile(RecordFile&& other) noexcept : bf_(std::exchange(other.bf_, nullptr)) {}
  RecordFile& operator=(RecordFile&& other) noexcept {
    if (this != &other) {
      bdiscard(bf_);
      bf_ = std::exchange(other.bf_, nullptr);
    }
    return *this;
  }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;

  biofile* get() const { return bf_; }
  bool is_open() const { return bf_ != nullptr; }
  void* read(void* destination, int length = 0) { return bread(bf_, destination, length); }
  unsigned char* read_records(std::int64_t& count) { return bread_records(bf_, count); }
  void* write(const void* source, int length = 0) { return bwrite(bf_, source, length); }
  // Ends the file with bclose's B_RELEASE (or B_DELETE); the owner is empty afterwards.
  void close(int how = B_RELEASE) { bclose(std::exchange(bf_, nullptr), how); }

 private:
  biofile* bf_ = nullptr;
};
