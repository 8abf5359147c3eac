// Huge-page-backed blocks of memory and mapped files.
#include "stagedata/large_block.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

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

void Unmapper::operator()(char* memory) const { munmap(memory, length); }

MappedFile::MappedFile(const std::string& path, std::int64_t offset, std::int64_t bytes) {
  if (bytes <= 0) return;
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) error_exitf("Can't open %s", path.c_str());
  const auto length = static_cast<std::size_t>(offset + bytes);
  // Populated at once: one call instead of a fault per page when the records are first read.
  void* memory = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
  ::close(descriptor);
  if (memory == MAP_FAILED) error_exitf("Can't read %s", path.c_str());
  memory_ = std::unique_ptr<char, Unmapper>(static_cast<char*>(memory), Unmapper{length});
  data_ = memory_.get() + offset;
}
