// Memory for the large arrays of the staging (rows, their combinations, their sorted order).
#pragma once

#include <cstddef>
#include <memory>

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
