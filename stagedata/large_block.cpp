// Huge-page-backed blocks of memory.
#include "stagedata/large_block.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

#include "runtime/frame.h"

void LargeBlock::Free::operator()(char* memory) const { std::free(memory); }

LargeBlock::LargeBlock(std::size_t bytes) : size_(bytes) {
  constexpr std::size_t huge_page = 2 << 20;
  if (bytes >= huge_page) {
    const std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
    memory_.reset(static_cast<char*>(std::aligned_alloc(huge_page, rounded)));
    if (memory_) madvise(memory_.get(), rounded, MADV_HUGEPAGE);
  }
  if (!memory_) memory_.reset(static_cast<char*>(std::malloc(std::max<std::size_t>(bytes, 1))));
  if (!memory_) error_exitf("Not enough memory for a block of %zu bytes", bytes);
}
