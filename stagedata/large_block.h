// Memory for the large arrays of the staging (rows, their combinations, their sorted order) and
// the input data mapped whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// An uninitialised block of memory. Large blocks ask for huge pages: each small page costs a
// fault when first touched, which for arrays of many megabytes takes longer than filling them,
// and rows moved all over a block would otherwise cost a translation miss each. Untouched pages
// cost nothing, so a block may be sized for the worst case.
class LargeBlock {
 public:
  LargeBlock() = default;
  explicit LargeBlock(std::size_t bytes);
  char* data() const { return memory_.get(); }
  std::size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(char* memory) const;
  };
  std::unique_ptr<char, Free> memory_;
  std::size_t size_ = 0;
};

// Unmaps a file's mapping of `length` bytes.
struct Unmapper {
  std::size_t length = 0;
  void operator()(char* memory) const;
};

// Bytes of a file mapped read-only into memory. The pages are the page cache's own, so that data
// read whole cost neither a copy nor freshly zeroed pages.
class MappedFile {
 public:
  MappedFile() = default;
  // Maps `bytes` bytes of `path` from byte `offset`; a failure ends the run.
  MappedFile(const std::string& path, std::int64_t offset, std::int64_t bytes);
  const char* data() const { return data_; }

 private:
  std::unique_ptr<char, Unmapper> memory_;
  const char* data_ = nullptr;
};
