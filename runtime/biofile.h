// Binary record files: unbuffered, buffered and in-memory (virtual) files behind one control
// block. Every failure ends the run with a message that names the file.
#pragma once

#include <cstdint>

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
// Reads one record (length <= 0: the record length); null at the end of the data.
// A null destination returns a pointer into the buffer, valid until the next call.
void* bread(biofile* bf, void* destination, int length);
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

// Flushes and releases every record file (nothing is deleted); used by release_all.
void release_record_files();
