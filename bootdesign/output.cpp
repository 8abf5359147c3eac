// The two outputs of the synthetic populations.
#include "bootdesign/output.h"

#include <algorithm>
#include <cstring>

#include "dataset/standard_meta.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/output_file.h"

namespace {


// Appends a numeric variable of 8 bytes to a standard dataset's description.
void add_number_variable(DatasetMeta& meta, const char* name, const char* label) {
  const std::size_t names = meta.names.size();
  meta.names.resize(names + name_field);
  store_field(&meta.names[names], name, name_field);
  const std::size_t labels = meta.labels.size();
  meta.labels.resize(labels + label_field);
  store_field(&meta.labels[labels], label, label_field);
  meta.type.push_back('F');
  meta.location.push_back(meta.reclen);
  meta.width.push_back(data_field);
  meta.decimals.push_back(0);
  if (!meta.missing_index.empty()) meta.missing_index.push_back(-1);
  meta.frame_of_var.push_back(-1);
  ++meta.nvar;
  meta.reclen += data_field;
  meta.declared_reclen = meta.reclen;
}

class DatasetOutput final : public MemberOutput {
 public:
  DatasetOutput(const BootSettings& settings, const Dataset& input, const std::string& dataout)
      : settings_(settings),
        input_(input),
        carried_(settings.carried()),
        numbered_(settings.id < 0),
        writer_(dataout, static_cast<int>(carried_.size()) + (numbered_ ? 2 : 1)),
        record_((carried_.size() + 2) * data_field) {}

  void write_implicate(std::int64_t implicate, const std::vector<std::int64_t>& multiplicity) override {
    // The observations are read again for every implicate, so that only one record is held.
    DataReader reader(input_);
    const std::size_t length = (carried_.size() + (numbered_ ? 2 : 1)) * data_field;
    char* implicate_field = &record_[carried_.size() * data_field];
    set_number(implicate_field, static_cast<double>(implicate));
    for (std::size_t i = 0; i < multiplicity.size(); ++i) {
      if (!reader.next())
        error_exitf("Can't read observation %lld of %s", static_cast<long long>(i), input_.data_path.c_str());
      if (multiplicity[i] == 0) continue;
      for (std::size_t k = 0; k < carried_.size(); ++k)
        std::memcpy(&record_[k * data_field], reader.field(carried_[k]), data_field);
      if (numbered_) set_number(implicate_field + data_field, static_cast<double>(i + 1));
      for (std::int64_t copy = 0; copy < multiplicity[i]; ++copy)
        std::memcpy(writer_.next_record(), record_.data(), length);
      members_ += multiplicity[i];
    }
  }

  void finish() override { writer_.commit(output_meta(settings_, input_.meta)); }

 private:
  const BootSettings& settings_;
  const Dataset& input_;
  std::vector<int> carried_;   // dataset indexes of the carried variables
  bool numbered_;              // the records end with the observation number
  DataWriter writer_;
  std::vector<char> record_;   // the output record being built
};

class MembersOutput final : public MemberOutput {
 public:
  explicit MembersOutput(const std::string& path)
      : output_(path), file_(output_.path().c_str(), B_WRITE, streaming_buffer, data_field) {}

  void write_implicate(std::int64_t, const std::vector<std::int64_t>& multiplicity) override {
    for (std::size_t i = 0; i < multiplicity.size(); ++i) {
      char number[data_field];
      set_number(number, static_cast<double>(i + 1));
      for (std::int64_t copy = 0; copy < multiplicity[i]; ++copy) file_.write(number);
      members_ += multiplicity[i];
    }
  }

  void finish() override {
    file_.close();
    output_.commit();
  }

 private:
  PendingOutput output_;
  RecordFile file_;
};

}  // namespace

DatasetMeta output_meta(const BootSettings& settings, const DatasetMeta& input) {
  const std::vector<int> carried = settings.carried();
  DatasetMeta meta = standard_meta(input, carried);
  // The ID of the run identifies the members' observations in the output.
  if (settings.id >= 0)
    meta.id_var = static_cast<std::int32_t>(std::find(carried.begin(), carried.end(), settings.id) - carried.begin());
  add_number_variable(meta, "_IMPL_", "Implicate number");
  if (settings.id < 0) add_number_variable(meta, "_OBS_", "Observation number");
  return meta;
}

std::unique_ptr<MemberOutput> dataset_output(const BootSettings& settings, const Dataset& input,
                                             const std::string& dataout) {
  return std::make_unique<DatasetOutput>(settings, input, dataout);
}

std::unique_ptr<MemberOutput> members_output(const std::string& path) {
  return std::make_unique<MembersOutput>(path);
}
