// The whole run of emitdata, which main.cpp hands to run_procedure. A run works either from an
// imputation run's control file (with a host mode, a /DATAOUT= option, or when the setup has a
// control file beside it) or from its own statements.
#include "emitdata/procedure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control/control_file.h"
#include "control/imputed_values.h"
#include "dataset/data_file.h"
#include "dataset/metadata.h"
#include "emitdata/extension.h"
#include "emitdata/listing.h"
#include "emitdata/output.h"
#include "emitdata/settings.h"
#include "hosts/emit_programs.h"
#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "runtime/path.h"

namespace {

// How often the record loop looks for a user interrupt.
constexpr long long interrupt_poll = 4096;

// The records of the input: a standard data file, or a host's extracted data behind its 8-byte
// missing-value code.
class InputRecords {
 public:
  InputRecords(const std::string& path, int fields, bool leading_record)
      : path_(path), length_(fields * data_field), file_(path.c_str(), B_READ, 8 << 20, length_) {
    long long size = bfile_size(file_.get());
    if (leading_record) {
      if (size < data_field) error_exitf("Data file %s lacks its missing-value record", path.c_str());
      file_.read(nullptr, data_field);
      size -= data_field;
    }
    if (size % length_ != 0)
      error_exitf("Data file %s ends inside record %lld (record length %d)", path.c_str(), size / length_ + 1, length_);
    count_ = size / length_;
  }
  long long count() const { return count_; }
  const char* next() {
    const auto* record = static_cast<const char*>(file_.read(nullptr, length_));
    if (record == nullptr) error_exitf("Can't read %s", path_.c_str());
    return record;
  }

 private:
  std::string path_;
  int length_;
  RecordFile file_;
  long long count_ = 0;
};

// The requested multiples and implicates of a run, and the added columns that tell them apart.
struct Selection {
  std::vector<Realization> realizations;
  bool add_mult = false;
  bool add_impl = false;
};

// A request checked against what the run produced; none takes `fallback`.
int checked_request(int request, int fallback, int produced, const char* beyond) {
  if (produced == 0) {
    if (request > 0) error_exit(beyond);
    return select_all;
  }
  const int value = request == select_none ? fallback : request;
  if (value > produced) error_exit(beyond);
  return value;
}

Selection select_realizations(const ImputedShape& shape, int multiple, int implicate, bool concatenate) {
  const int fallback = concatenate ? select_all : 1;
  const int m = checked_request(multiple, fallback, shape.multiples, "Invalid multiple requested");
  const int i = checked_request(implicate, fallback, shape.implicates, "Invalid implicate requested");
  Selection selection;
  for (const Realization& r : shape.realizations())
    if ((m == select_all || r.multiple == m) && (i == select_all || r.implicate == i)) selection.realizations.push_back(r);
  selection.add_mult = shape.multiples > 1 && m == select_all;
  selection.add_impl = shape.implicates > 1 && i == select_all;
  return selection;
}

// Copies every input record to the output, completed for each selected realization when
// imputed values are given.
long long write_records(InputRecords& input, long long nobs, ImputedValues* values, const Selection& selection,
                        const OutputLayout& layout, OutputSink& sink, ExtensionFile* extension = nullptr) {
  std::vector<char> record(static_cast<std::size_t>(layout.fields()) * data_field);
  const std::size_t input_bytes = static_cast<std::size_t>(layout.input_fields) * data_field;
  long long written = 0;
  const std::vector<Realization> plain{Realization{}};
  const std::vector<Realization>& realizations = values ? selection.realizations : plain;
  for (long long obs = 1; obs <= nobs; ++obs) {
    if (obs % interrupt_poll == 0 && interrupted()) error_exit("User interrupt");
    const char* input_record = input.next();
    if (values) values->load(obs);
    for (const Realization& r : realizations) {
      std::memcpy(record.data(), input_record, input_bytes);
      if (values) values->apply(r, record.data());
      if (extension) extension->next(&record[input_bytes]);
      if (layout.mult_column >= 0) set_number(&record[static_cast<std::size_t>(layout.mult_column) * data_field], r.multiple);
      if (layout.impl_column >= 0) set_number(&record[static_cast<std::size_t>(layout.impl_column) * data_field], r.implicate);
      if (layout.obs_column >= 0) set_number(&record[static_cast<std::size_t>(layout.obs_column) * data_field], static_cast<double>(obs));
      sink.write(record.data());
      ++written;
    }
  }
  return written;
}

// A path relative to the setup's folder.
std::string setup_relative(const std::string& name, const char* extension = nullptr) {
  char path[max_path_length + 1];
  make_path(path, nullptr, name.c_str(), extension);
  return path;
}

// A path without the extension of its last component.
std::string without_extension(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return path;
  return path.substr(0, dot);
}

// The kept variables of a control file described as a dataset of 8-byte fields, with their
// codeframes: what a host's extraction wrote.
DatasetMeta control_variables(const ControlFile& control) {
  DatasetMeta meta;
  meta.nvar = control.nvar();
  meta.standard = 1;
  for (int k = 0; k < meta.nvar; ++k) {
    const auto kk = static_cast<std::size_t>(k);
    meta.names.insert(meta.names.end(), control.names[kk].begin(), control.names[kk].end());
    meta.labels.insert(meta.labels.end(), control.labels[kk].begin(), control.labels[kk].end());
    meta.type.push_back((control.flags[kk] & FLAG_CHARACTER) != 0 ? 'C' : 'F');
    meta.location.push_back(k * data_field);
    meta.width.push_back(data_field);
    meta.decimals.push_back(0);
  }
  meta.id_var = control.id_var;
  meta.mult_var = control.multiple_var;
  const ControlCodeframes& frames = control.codeframes;
  if (!frames.frame_of_var.empty()) {
    meta.frame_of_var = frames.frame_of_var;
    meta.nframes = static_cast<std::int32_t>(frames.frame_names.size());
    for (const VarName& name : frames.frame_names) meta.frame_names.insert(meta.frame_names.end(), name.begin(), name.end());
    meta.frame_end = frames.frame_end;
    meta.ncodes = static_cast<std::int32_t>(frames.codes.size());
    for (const Slot8& code : frames.codes) meta.codes.insert(meta.codes.end(), code.begin(), code.end());
    meta.code_labels = frames.code_labels;
  }
  meta.reclen = meta.nvar * data_field;
  return meta;
}

// What an export from an imputation run writes and how.
struct RunRequest {
  std::string base;            // the imputation setup's path without extension
  int multiple = select_none;
  int implicate = select_none;
  std::string dataout;         // output name; empty takes the control file's
  OutputKind kind = OutputKind::standard;
  std::string text_path;       // table output file named by TAB
  std::string delimiters;
  long long nobs = 0;          // most observations; 0 takes the control file's or all
};

// The output's path without extension.
std::string output_base(const std::string& dataout) { return dataset_name(setup_relative(dataout)); }

// The text file of a table: the output name as given, with ".txt" when it has no extension.
std::string text_output_path(const std::string& dataout) {
  const std::string path = setup_relative(dataout);
  return without_extension(path) == path ? path + ".txt" : path;
}

void export_imputation_run(const RunRequest& request, const EmitSettings* statements) {
  const std::string ctl_path = request.base + ".ctl";
  const ControlFile control = read_control_file(ctl_path.c_str());
  if ((control.kind & (KIND_IMPUTE | KIND_SYNTHESIZE)) == 0) error_exit("Not an Impute or Synthesize control file");
  const ImputedShape shape = imputed_shape(control, request.base + ".log");
  const Selection selection = select_realizations(shape, request.multiple, request.implicate, control.concatenate != 0);
  const std::string dataout = !request.dataout.empty() ? request.dataout : control.dataout;
  if (dataout.empty()) error_exit("No dataout specified");
  log_line(false, "  Read setup");

  const bool host = request.kind == OutputKind::host;
  DatasetMeta input_meta;
  std::string data_path;
  if (host) {
    input_meta = control_variables(control);
    data_path = request.base + ".dat";
  } else {
    if (control.datain.empty()) error_exit("No data input named in the control file");
    const std::string met = tessary::build_path(request.base + ".set", nullptr,
                                                dataset_name(control.datain.front()).c_str(), "met", '/');
    Dataset dataset = open_dataset(met);
    if (dataset.meta.nvar != control.norig())
      error_exitf("Dataset %s has %d variables, the control file %d", met.c_str(), dataset.meta.nvar, control.norig());
    input_meta = std::move(dataset.meta);
    data_path = dataset.data_path;
  }
  const bool has_id = control.id_var >= 0 || input_meta.id_var >= 0;
  const OutputLayout layout = output_layout(input_meta, selection.add_mult, selection.add_impl,
                                            (selection.add_mult || selection.add_impl) && !has_id);
  InputRecords input(data_path, input_meta.nvar, host);
  // The imputation covered `imputed` observations; the export may stop earlier.
  long long imputed = input.count();
  if (control.nobs > 0) imputed = std::min<long long>(imputed, control.nobs);
  const long long nobs = request.nobs > 0 ? std::min(imputed, request.nobs) : imputed;

  std::vector<bool> char_vars;
  for (int k = 0; k < control.nvar(); ++k) char_vars.push_back((control.flags[static_cast<std::size_t>(k)] & FLAG_CHARACTER) != 0);
  ImputedValues values(request.base + ".cor", shape, kept_columns(control, host), char_vars, imputed);

  const std::string out_base = host ? request.base : output_base(dataout);
  log_line(false, "  Write data");
  auto sink = make_sink(request.kind, layout, out_base, request.text_path, request.delimiters);
  const long long records = write_records(input, nobs, &values, selection, layout, *sink);
  sink->commit();
  log_linef(false, "  Output: %s (%lld records)", sink->path().c_str(), records);
  if (host) {
    EmitProgramInputs program = emit_program_inputs(control, layout.meta, host_mode);
    program.data_path = sink->path();
    program.records = records;
    program.input_data = control.datain.empty() ? std::string() : control.datain.front();
    program.dataout = dataout;
    program.id_var = control.id_var;
    program.mult_column = layout.mult_column;
    program.impl_column = layout.impl_column;
    program.obs_column = layout.obs_column;
    write_emit_program(request.base + ".emt", program);
  }
  if (statements) write_emit_listing(*statements, layout, records, without_extension(sink->path()));
  else if (control.print_level > 0) {
    EmitSettings shown;
    shown.print = control.print_level;
    shown.title = control.title;
    write_emit_listing(shown, layout, records, without_extension(sink->path()));
  }
}

// The output kind that the statements ask for (a DEL without TAB still asks for a table).
OutputKind statement_kind(const EmitSettings& settings) {
  if (settings.fixed_width) return OutputKind::fixed_text;
  if (settings.table || settings.delimiters) return OutputKind::table;
  return OutputKind::standard;
}

std::string statement_delimiters(const EmitSettings& settings) { return settings.delimiters.value_or("\t"); }

void export_dataset(const EmitSettings& settings) {
  Dataset dataset = open_dataset(dataset_metadata_path(settings.datain));
  OutputLayout layout = output_layout(dataset.meta, false, false, false);
  const std::unique_ptr<ExtensionFile> extension = ExtensionFile::for_data(dataset.data_path);
  if (extension) append_extension_columns(layout, extension->names());
  InputRecords input(dataset.data_path, dataset.meta.nvar, false);
  const long long nobs = settings.nobs > 0 ? std::min(settings.nobs, input.count()) : input.count();
  const std::string base = output_base(settings.dataout.empty() ? companion_path("") : settings.dataout);
  const OutputKind kind = statement_kind(settings);
  const std::string text_path = text_output_path(settings.dataout.empty() ? base : settings.dataout);
  log_line(false, "  Write data");
  auto sink = make_sink(kind, layout, base, text_path, statement_delimiters(settings));
  const long long records = write_records(input, nobs, nullptr, Selection{}, layout, *sink, extension.get());
  sink->commit();
  log_linef(false, "  Output: %s (%lld records)", sink->path().c_str(), records);
  write_emit_listing(settings, layout, records, without_extension(sink->path()));
}

bool control_file_exists() {
  std::FILE* file = std::fopen(companion_path(".ctl"), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

std::string setup_base() { return companion_path(""); }

}  // namespace

void run_emitdata(int argc, char** argv) {
  const bool from_control = host_mode != HOST_NONE || has_dataout_option(argc, argv) || control_file_exists();
  new_log = !from_control;
  log_line(true, "  Begin Emitdata execution");
  // Read after the log is open, so that a bad value is reported there.
  const CommandOptions options = read_command_options(argc, argv);
  if (from_control) {
    RunRequest request;
    request.base = setup_base();
    request.multiple = options.multiple;
    request.implicate = options.implicate;
    request.dataout = options.dataout.value_or("");
    request.kind = host_mode != HOST_NONE ? OutputKind::host : OutputKind::standard;
    export_imputation_run(request, nullptr);
  } else {
    const EmitSettings settings = read_emit_statements();
    if (!settings.datain.empty()) {
      export_dataset(settings);
    } else {
      RunRequest request;
      request.base = without_extension(setup_relative(settings.imputation_setup));
      request.multiple = options.multiple != select_none ? options.multiple : settings.multiple;
      request.implicate = options.implicate != select_none ? options.implicate : settings.implicate;
      request.dataout = settings.dataout.empty() ? companion_path("") : settings.dataout;
      request.kind = statement_kind(settings);
      request.text_path = text_output_path(request.dataout);
      request.delimiters = statement_delimiters(settings);
      request.nobs = settings.nobs;
      export_imputation_run(request, &settings);
    }
    if (settings.print == 0) std::remove(companion_path(".lst"));
  }
  log_line(true, "  End execution");
  log_line(false, "");
}
