// Rows held after their corrections changed them, and the input records gathered in the order
// of the sorted write.
#include "stagedata/staged_rows.h"

void StagedRows::hold_changed(long long observation, const char* rows) {
  const File& file = files_.front();
  if (changed_ == nullptr) {
    changed_block_ = LargeBlock(static_cast<std::size_t>(file.observations) * sizeof(std::uint32_t));
    changed_ = reinterpret_cast<std::uint32_t*>(changed_block_.data());
    std::fill(changed_, changed_ + file.observations, none_);
    held_block_ = LargeBlock(static_cast<std::size_t>(file.observations * copies_ * builder_.length()));
  }
  changed_[observation] = static_cast<std::uint32_t>(held_rows_);
  copy_row(held_block_.data() + held_rows_ * builder_.length(), rows, copies_ * builder_.length() / data_field);
  held_rows_ += copies_;
}

void StagedRows::gather_records(std::uint32_t* order, std::int64_t count) {
  if (files_.empty() || observations_ == 0) return;
  const int record_length = files_.front().record_length;
  const auto observations = static_cast<std::size_t>(observations_);
  const LargeBlock first_block(observations * sizeof(std::uint32_t));
  auto* first = reinterpret_cast<std::uint32_t*>(first_block.data());
  std::fill(first, first + observations, none_);
  gathered_block_ = LargeBlock(observations * static_cast<std::size_t>(record_length));
  observation_block_ = LargeBlock(observations * sizeof(std::uint32_t));
  gathered_observation_ = reinterpret_cast<std::uint32_t*>(observation_block_.data());
  char* gathered = gathered_block_.data();
  std::uint32_t next = 0;
  const std::uint32_t copy_mask = (1u << copy_bits_) - 1;
  for (std::int64_t p = 0; p < count; ++p) {
    if (p + gather_ahead < count && (order[p + gather_ahead] & held_bit_) == 0)
      __builtin_prefetch(&first[order[p + gather_ahead] >> copy_bits_]);
    const std::uint32_t ticket = order[p];
    if ((ticket & held_bit_) != 0) continue;
    const std::uint32_t global = ticket >> copy_bits_;
    std::uint32_t index = first[global];
    if (index == none_) {
      index = first[global] = next++;
      copy_row(gathered + static_cast<std::size_t>(index) * static_cast<std::size_t>(record_length),
               source(ticket).bytes, record_length / data_field);
      gathered_observation_[index] = global;
    }
    order[p] = index << copy_bits_ | (ticket & copy_mask);
  }
  gathered_ = gathered;
}
