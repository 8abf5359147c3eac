// The variable step of one variable and one BY level.
#include "impute/variable_step.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "impute/corrections.h"
#include "impute/fit_rows.h"
#include "impute/model.h"
#include "impute/running_sums.h"
#include "impute/step_models.h"
#include "runtime/frame.h"
#include "stats/distributions.h"
#include "stats/packed_matrix.h"
#include "stats/random.h"

namespace impute {

bool model_available(int type) {
  switch (type) {
    case TYPE_CONTINUOUS:
    case TYPE_CATEGORICAL:
    case TYPE_MIXED:
    case TYPE_POLYTOMOUS:
    case TYPE_COUNT:
    case TYPE_ABB_STORED:
    case TYPE_GH: return true;
    default: return false;
  }
}

const char* model_title(int type) {
  switch (type) {
    case TYPE_CONTINUOUS: return "Linear regression";
    case TYPE_CATEGORICAL: return "Logistic regression";
    case TYPE_MIXED: return "Mixed regression";
    case TYPE_POLYTOMOUS: return "Polytomous regression";
    case TYPE_COUNT: return "Poisson regression";
    case TYPE_ABB_STORED: return "Approximate Bayesian bootstrap imputation";
    case TYPE_GH: return "Tukey's gh distribution imputation";
    default: return "Imputation";
  }
}

void step_warning(const ImputeRun& run, const char* text) {
  log_line(false, text);
  if (run.print_coefficients()) list_line(text, 1);
}

CorrectionReader current_corrections(const WorkFiles& files, CorrectionLayout layout) {
  if (files.current_in_memory) return CorrectionReader(files.current_memory, layout);
  if (files.current >= 0) return CorrectionReader(files.corrections_path[files.current].c_str(), layout);
  return CorrectionReader();
}

void store_current_corrections(WorkFiles& files, CorrectionLayout layout) {
  if (!files.current_in_memory) return;
  CorrectionWriter writer(files.corrections_path[files.current].c_str(), layout);
  writer.write_records(files.current_memory.data(), files.current_memory.size());
  writer.finish();
  files.current_memory = std::vector<unsigned char>();
  files.current_in_memory = false;
}

int perturbation_size(const ImputeRun& run, const Variable& var) { return run.seed == 0 ? 0 : var.perturb > 0 ? var.perturb : 2; }

namespace {

// ---- Restrictions. ----

// The 8-byte code (or value) of variable `w` in a record; false when not observed.
bool observed_value(const ImputeRun& run, int w, const unsigned char* record, double& number, const Slot8*& code) {
  const Variable& var = run.vars[static_cast<std::size_t>(w)];
  code = nullptr;
  if (var.numeric()) {
    number = record_number(record, var.position);
    return is_observed(number);
  }
  const int index = record_code(record, var.position);
  if (index < 0 || index >= static_cast<int>(var.codes.size())) return false;
  code = &var.codes[static_cast<std::size_t>(index)].value;
  if (!var.character()) number = slot_double(*code);
  return true;
}

// Compares a value with a constant: negative, zero or positive.
int compare(const ImputeRun& run, bool character, double number, const Slot8* code, int constant) {
  const Slot8& c = run.control.constants[static_cast<std::size_t>(constant)];
  if (character) return std::memcmp(code->data(), c.data(), SLOT_BYTES);
  const double value = slot_double(c);
  return number < value ? -1 : number > value ? 1 : 0;
}

bool entry_matches(const ImputeRun& run, bool character, double number, const Slot8* code, const RestrictionValue& entry) {
  const int low = compare(run, character, number, code, entry.value);
  switch (entry.relation) {
    case RELATION_EQUAL: return low == 0;
    case RELATION_RANGE: return low >= 0 && compare(run, character, number, code, entry.high) <= 0;
    case RELATION_LESS: return low < 0;
    case RELATION_LESS_EQUAL: return low <= 0;
    case RELATION_GREATER: return low > 0;
    case RELATION_GREATER_EQUAL: return low >= 0;
  }
  return false;
}

// Whether restricted variable `v` applies to the case: every condition holds.
bool restriction_holds(const ImputeRun& run, int v, const unsigned char* record) {
  for (const Condition& condition : run.restrictions->of(v)) {
    double number = 0;
    const Slot8* code = nullptr;
    if (!observed_value(run, condition.variable, record, number, code)) return false;
    const bool character = run.vars[static_cast<std::size_t>(condition.variable)].character();
    if (std::none_of(condition.values.begin(), condition.values.end(),
                     [&](const RestrictionValue& entry) { return entry_matches(run, character, number, code, entry); }))
      return false;
  }
  return true;
}

// Sets a variable outside its restriction to its restricted value: 0, the restricted code, or
// (for the dependent) not applicable.
void set_restricted(const ImputeRun& run, int v, unsigned char* record, bool dependent) {
  const Variable& var = run.vars[static_cast<std::size_t>(v)];
  if (var.numeric()) set_record_number(record, var.position, dependent ? not_applicable_value : 0.0);
  else set_record_code(record, var.position, dependent ? not_applicable_index : static_cast<std::int16_t>(var.ncat - 1));
}

// ---- Bounds. ----

double bound_operand(const ImputeRun& run, const BoundOperand& operand, const unsigned char* record, bool& known) {
  if (!operand.is_variable()) return slot_double(run.control.constants[static_cast<std::size_t>(operand.constant())]);
  double number = 0;
  const Slot8* code = nullptr;
  const bool text = run.vars[static_cast<std::size_t>(operand.variable())].character();
  if (!observed_value(run, operand.variable(), record, number, code) || text) known = false;
  return known ? number : 0.0;
}

}  // namespace

// The case's bounds of variable v; clauses whose operands are not observed in the case are left out.
Limits case_limits(const ImputeRun& run, int v, const unsigned char* record) {
  Limits limits;
  for (const Bound& bound : run.bounds->of(v)) {
    double value = 0;
    bool known = true;
    for (const BoundOperand& operand : bound.operands) {
      const double x = bound_operand(run, operand, record, known);
      if (!known) break;
      switch (operand.op) {
        case OPERATOR_FIRST: value = x; break;
        case OPERATOR_NEGATE: value = -x; break;
        case OPERATOR_ADD: value += x; break;
        case OPERATOR_SUBTRACT: value -= x; break;
        case OPERATOR_MULTIPLY: value *= x; break;
        case OPERATOR_DIVIDE:
          if (x == 0) error_exit(" Bounds divide by zero");
          value /= x;
          break;
      }
    }
    if (!known) continue;
    switch (bound.comparison) {
      case RELATION_LESS: limits.upper = std::min(limits.upper, value - DBL_EPSILON); break;
      case RELATION_LESS_EQUAL: limits.upper = std::min(limits.upper, value); break;
      case RELATION_GREATER: limits.lower = std::max(limits.lower, value + DBL_EPSILON); break;
      case RELATION_GREATER_EQUAL: limits.lower = std::max(limits.lower, value); break;
      default: break;
    }
  }
  if (limits.upper <= limits.lower) {
    char text[200];
    std::snprintf(text, sizeof text, "Bounds error for %s: min=%g, max=%g", run.vars[static_cast<std::size_t>(v)].name.c_str(),
                  limits.lower, limits.upper);
    step_warning(run, text);
  }
  return limits;
}

double bounded_normal_draw(ImputeRun& run, double eta, double s, const Limits& limits) {
  double value = eta;
  if (s != 0) {
    const double a = limits.lower == -DBL_MAX ? 0.0 : tessary::normal_cdf((limits.lower - eta) / s);
    const double c = limits.upper == DBL_MAX ? 1.0 : tessary::normal_cdf((limits.upper - eta) / s);
    const double u = tessary::uniform(run.generator);
    value = eta + s * tessary::inverse_normal_cdf(a + (c - a) * u);
  }
  return std::clamp(value, limits.lower, std::max(limits.lower, limits.upper));
}

namespace {

// ---- The step. ----

// How the values of the step are drawn.
struct Treatment {
  bool constant = false;  // every case gets `value`
  double value = 0;
  LinearFit fit;
  std::unique_ptr<CaseDraw> model;  // the variable types beyond the linear model
};

bool in_level(const ImputeRun& run, const unsigned char* record, const std::vector<int>& by_level) {
  for (std::size_t b = 0; b < by_level.size(); ++b)
    if (record_code(record, run.vars[static_cast<std::size_t>(run.by_vars[b])].position) != by_level[b]) return false;
  return true;
}

// Predictors (and the offset variable) that a restriction excludes get their restricted value;
// returns false when the dependent itself is excluded.
bool apply_restrictions(const ImputeRun& run, int dependent, const std::vector<int>& predictors, unsigned char* record) {
  std::vector<int> excluded;
  auto check = [&](int v) {
    if (v >= 0 && v < run.nvar && run.vars[static_cast<std::size_t>(v)].restricted && !restriction_holds(run, v, record))
      excluded.push_back(v);
  };
  check(dependent);
  for (int v : predictors) check(v);
  check(run.vars[static_cast<std::size_t>(dependent)].offset_var);
  bool applies = true;
  for (int v : excluded) {
    set_restricted(run, v, record, v == dependent);
    if (v == dependent) applies = false;
  }
  return applies;
}

// The read buffer of the working file: small enough that a refill stays in the processor's
// cache until the records are used (a buffer of several MiB is copied out to memory first).
constexpr std::int64_t working_buffer_bytes = std::int64_t{256} << 10;

struct StepData {
  long long model_records = 0;  // records written to the model file
  double n = 0, sum = 0, sum_squares = 0;  // fitting cases and their dependent's sums
  void add_fitting(double value) {
    n += 1;
    sum += value;
    sum_squares += value * value;
  }
};

// Adds a case of the step's pass to the running sums, as it stood before the step (with the
// dependent's earlier value `own`): to the whole while it is recomputed, and to the cases to
// impute when the dependent is missing.
void add_to_sums(RunningSums& sums, const Variable& dep, const unsigned char* record, bool missing, const unsigned char* own,
                 std::vector<unsigned char>& copy) {
  const unsigned char* current = record;
  if (missing && own != nullptr) {
    std::memcpy(copy.data(), record, copy.size());
    std::memcpy(copy.data() + dep.position, own, dep.numeric() ? 8 : 2);
    current = copy.data();
  }
  if (!sums.whole()) sums.add_case(current);
  if (missing && !sums.missing_known()) sums.add_missing(current);
}

// Writes the model file and builds the cross-product matrix of the step (from the running sums
// when `sums_fit`); the model file is left suspended for the replacement pass.
StepData build_model_data(const ImputeRun& run, const WorkFiles& files, int dependent, const std::vector<int>& predictors,
                          const StepPass& pass, const std::vector<int>& by_level, const ModelColumns& columns,
                          RecordFile& model, std::vector<double>& matrix, FitCollector* fit_cases, RunningSums* sums,
                          bool sums_fit) {
  log_line(false, "  Update data");
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  const bool any_restricted = run.restrictions.has_value();
  StepData data;
  // A continuous variable's later steps read only its missing cases, which its first writes.
  MissingRows* missing_rows = sums_fit ? &sums->missing_rows(dependent) : nullptr;
  const bool missing_only = missing_rows != nullptr && missing_rows->written && sums->whole();
  RecordFile working(missing_only ? missing_rows->path->c_str() : files.data_path.c_str(), B_READ, working_buffer_bytes,
                     run.record_length);
  RecordFile missing_writer;
  if (missing_rows != nullptr && !missing_rows->written)
    missing_writer = RecordFile(missing_rows->path->c_str(), B_WRITE, working_buffer_bytes, run.record_length);
  CorrectionApplier corrections(run, files, layout_of(run), pass, dependent);
  CrossProductBlock block(matrix, columns.count());
  const int y = columns.dependent();
  std::vector<unsigned char> copy(sums != nullptr ? static_cast<std::size_t>(run.record_length) : 0);
  if (sums != nullptr) sums->start_pass(dependent);
  const bool observed_only = sums_fit && sums->whole();
  // Records are changed where they lie in the read buffer: the working file itself never is.
  // They are taken a buffer's run at a time.
  std::int64_t count = 0;
  while (unsigned char* first = working.read_records(count)) {
    for (std::int64_t i = 0; i < count; ++i) {
      unsigned char* record = first + i * run.record_length;
      if (!in_level(run, record, by_level)) continue;
      // A fit from the running sums needs no more of an observed case than its value.
      if (observed_only) {
        const double value = dependent_value(dep, record);
        if (is_observed(value)) {
          data.add_fitting(value);
          continue;
        }
      }
      if (missing_writer.is_open() && dependent_value(dep, record) == missing_value) missing_writer.write(record);
      corrections.apply(record);
      bool applies = !any_restricted || apply_restrictions(run, dependent, predictors, record);
      const double value = dependent_value(dep, record);
      if (applies && !is_observed(value) && value != missing_value) applies = false;  // not applicable before
      const bool missing = applies && value == missing_value;
      if (!applies || missing || pass.synthesis) {
        model.write(record);
        ++data.model_records;
      }
      if (!applies) continue;
      if (sums != nullptr && (!sums->whole() || !sums->missing_known()))
        add_to_sums(*sums, dep, record, missing, corrections.own_value(), copy);
      // An iterative model takes its cases as fit rows; only a mixed variable's non-zero values
      // also enter the linear cross-products.
      if (fit_cases != nullptr ? !fit_cases->take(record, value) : missing) continue;
      data.add_fitting(value);
      if (sums_fit) continue;
      double* x = block.next_case();
      columns.fill(record, x);
      x[y] = value;
    }
  }
  block.flush();
  if (missing_writer.is_open()) {
    missing_writer.close();
    missing_rows->written = true;
    missing_rows->n = data.n;
    missing_rows->sum = data.sum;
    missing_rows->sum_squares = data.sum_squares;
  } else if (missing_only) {
    data.n = missing_rows->n;
    data.sum = missing_rows->sum;
    data.sum_squares = missing_rows->sum_squares;
  }
  if (sums != nullptr) {
    sums->end_pass();
    if (sums_fit) sums->step_matrix(dependent, columns, matrix);
  }
  bclose(model.get(), B_CLOSE);
  working.close();
  return data;
}

// The coefficients times the case's columns, summed in column order. A function of its own keeps
// the sum in a register: inlined into the draw it was stored and reloaded at every column.
[[gnu::noinline]] double linear_predictor(const std::vector<double>& coefficients, const std::vector<double>& x) {
  double eta = 0;
  for (std::size_t j = 0; j < coefficients.size(); ++j) eta += coefficients[j] * x[j];
  return eta;
}

// The value of one case of the model file; `filled`: x holds the case's columns already.
double draw_value(ImputeRun& run, int dependent, const ModelColumns& columns, const Treatment& how,
                  const unsigned char* record, std::vector<double>& x, bool filled) {
  if (how.constant) return how.value;
  if (how.model) return how.model->draw(run, record, x);
  if (!filled) columns.fill(record, x.data());
  const double eta = linear_predictor(how.fit.perturbed, x);
  const double s = how.fit.scale;
  if (!run.vars[static_cast<std::size_t>(dependent)].bounded) return s != 0 ? eta + s * tessary::normal(run.generator) : eta;
  return bounded_normal_draw(run, eta, s, case_limits(run, dependent, record));
}

// Where the drawn values of a step go: the current corrections held in memory take them in
// place while every case already has an entry of the variable (the iterations after the first);
// from the first case that needs a new record or entry, and whenever the corrections are on
// disk, they are merged into the next corrections.
class ValueSink {
 public:
  ValueSink(WorkFiles& files, CorrectionLayout layout)
      : files_(files), layout_(layout), reader_(current_corrections(files, layout)) {
    more_ = reader_.next(ahead_);
    if (!files.current_in_memory) start_merge();
  }
  // The corrections record of the case as it stands, null when it has none; valid until set().
  const CorrectionSpan* find(std::int32_t case_number, std::int16_t multiple, std::int16_t implicate) {
    pass_before(case_number, multiple, implicate);
    return more_ && ahead_.is(case_number, multiple, implicate) ? &ahead_ : nullptr;
  }
  void set(std::int32_t case_number, std::int16_t multiple, std::int16_t implicate, std::int16_t variable, const Slot8& value) {
    pass_before(case_number, multiple, implicate);
    const bool merge = more_ && ahead_.is(case_number, multiple, implicate);
    if (!writer_) {
      const int found = merge ? ahead_.find(variable) : -1;
      if (found >= 0) {
        std::memcpy(in_memory(ahead_.value(found)), value.data(), 8);
        // The next record is read when a later case asks for it, after the cases between.
        if (reader_.next_case() == case_number) more_ = reader_.next(ahead_);
        else stale_ = true;
        return;
      }
      start_merge();
    }
    writer_->write_setting(merge ? &ahead_ : nullptr, case_number, multiple, implicate, variable, value);
    if (merge) more_ = reader_.next(ahead_);
  }
  void finish() {
    if (!writer_) return;
    if (more_ && reader_.in_memory()) {
      const unsigned char* from = ahead_.start(layout_);
      const unsigned char* end = files_.current_memory.data() + files_.current_memory.size();
      writer_->write_records(from, static_cast<std::size_t>(end - from));
      more_ = false;
    }
    while (more_) {
      writer_->write(ahead_);
      more_ = reader_.next(ahead_);
    }
    writer_->finish();
    files_.current = next_;
    files_.current_in_memory = writer_->in_memory();
    std::swap(files_.current_memory, merged_);
    merged_ = std::vector<unsigned char>();
  }

 private:
  // Passes over (and merges) the records before the case's: those of earlier cases in one go
  // when they are in memory.
  void pass_before(std::int32_t case_number, std::int16_t multiple, std::int16_t implicate) {
    if (stale_) {  // only while the values are set in place
      stale_ = false;
      reader_.skip_cases_before(case_number);
      more_ = reader_.next(ahead_);
    }
    if (more_ && ahead_.case_number < case_number && reader_.in_memory()) {
      const unsigned char* from = ahead_.start(layout_);
      reader_.skip_cases_before(case_number);
      if (writer_) writer_->write_records(from, static_cast<std::size_t>(reader_.position() - from));
      more_ = reader_.next(ahead_);
    }
    while (more_ && ahead_.before(case_number, multiple, implicate)) {
      if (writer_) writer_->write(ahead_);
      more_ = reader_.next(ahead_);
    }
  }
  unsigned char* in_memory(const unsigned char* at) {
    return files_.current_memory.data() + (at - files_.current_memory.data());
  }
  // Starts the merge with the records before the current one, as they stand, in one copy.
  void start_merge() {
    next_ = files_.free_corrections();
    const char* path = files_.corrections_path[next_].c_str();
    // Corrections grow through a multiple: once on disk, they stay there.
    if (files_.current >= 0 && !files_.current_in_memory) {
      writer_.emplace(path, layout_);
      return;
    }
    // Room up to the limit at once: memory is taken only as it is written.
    merged_.reserve(corrections_memory_limit);
    writer_.emplace(merged_, path, layout_);
    if (!files_.current_in_memory) return;
    const unsigned char* first = files_.current_memory.data();
    const unsigned char* at = more_ ? ahead_.start(layout_) : first + files_.current_memory.size();
    writer_->write_records(first, static_cast<std::size_t>(at - first));
  }

  WorkFiles& files_;
  CorrectionLayout layout_;
  CorrectionReader reader_;
  CorrectionSpan ahead_;
  bool more_ = false;
  bool stale_ = false;  // ahead_ was set in place; the reader stands after it
  int next_ = -1;
  std::vector<unsigned char> merged_;
  std::optional<CorrectionWriter> writer_;
};

// Sets the drawn values of the model file's cases in the corrections. The drawn values also go
// back into the running sums, when kept; when the sums hold every column of the step
// (`sums_fit`), a case is decoded once for both.
void replace_values(ImputeRun& run, WorkFiles& files, int dependent, const ModelColumns& columns, const Treatment& how,
                    const StepPass& pass, RecordFile& model, RunningSums* sums, bool sums_fit) {
  log_line(false, "  Correct data");
  ValueSink sink(files, layout_of(run));
  bopen(nullptr, model.get(), B_READ, 0, 0);
  std::vector<double> x(static_cast<std::size_t>(columns.count()));
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  const auto multiple = static_cast<std::int16_t>(pass.multiple);
  const auto implicate = static_cast<std::int16_t>(pass.implicate);
  const auto variable = static_cast<std::int16_t>(dependent);
  const bool lent = sums_fit && sums->lends_columns(dependent);
  const std::vector<std::size_t> at = lent ? sums->step_columns(columns) : std::vector<std::size_t>();
  std::vector<unsigned char> copy(sums != nullptr && !lent ? static_cast<std::size_t>(run.record_length) : 0);
  if (sums != nullptr) sums->start_new_values(dependent);
  std::int64_t count = 0;
  while (const unsigned char* first = model.read_records(count)) {
    for (std::int64_t i = 0; i < count; ++i) {
      const unsigned char* record = first + i * run.record_length;
      const double stored = dependent_value(dep, record);
      const bool not_applicable = !is_observed(stored) && stored != missing_value;
      if (lent) sums->fill_step_case(record, at, x.data());
      const double value = not_applicable ? not_applicable_value : draw_value(run, dependent, columns, how, record, x, lent);
      const Slot8 entry = dep.numeric() ? number_value(value)
                                        : code_value(not_applicable ? not_applicable_index : static_cast<std::int16_t>(value));
      const std::int32_t case_number = record_case(record);
      if (lent) sums->add_new_number(value, sink.find(case_number, multiple, implicate));
      sink.set(case_number, multiple, implicate, variable, entry);
      if (sums != nullptr && !lent) {
        std::memcpy(copy.data(), record, copy.size());
        std::memcpy(copy.data() + dep.position, entry.data(), dep.numeric() ? 8 : 2);
        sums->add_new_value(copy.data());
      }
    }
  }
  if (sums != nullptr) sums->put_back();
  sink.finish();
  model.close();
}

// The treatment of a continuous variable: the degenerate constants, or the perturbed fit.
bool choose_continuous(ImputeRun& run, int dependent, const ModelColumns& columns, const StepData& data, Treatment& how) {
  const Variable& dep = run.vars[static_cast<std::size_t>(dependent)];
  char text[160];
  if (data.n == 0) {
    step_warning(run, dep.missing == 0 ? "  Warning: All valid cases, imputing restricted value 0"
                                       : "  Warning: No valid cases, imputing restricted value 0");
    how.constant = true;
    how.value = 0;
    return true;
  }
  if (data.sum_squares - data.sum * data.sum / data.n < 1e-08) {
    how.constant = true;
    how.value = data.sum / data.n;
    std::snprintf(text, sizeof text, "  Warning: No variance, imputing constant %g", how.value);
    step_warning(run, text);
    return true;
  }
  fit_linear(run, columns, dep, how.fit);
  if (interrupted()) error_exit("User interrupt");
  perturb_linear(run, columns, perturbation_size(run, dep), how.fit);
  return true;
}

}  // namespace

void variable_step(ImputeRun& run, WorkFiles& files, int variable, const std::vector<int>& predictors,
                   const StepPass& pass, const std::vector<int>& by_level) {
  if (interrupted()) error_exit("User interrupt");
  const Variable& dep = run.vars[static_cast<std::size_t>(variable)];
  if (!model_available(dep.type())) return;
  const ModelColumns columns(run, predictors);
  Treatment how;
  how.fit.matrix.assign(tessary::packed_size(static_cast<std::size_t>(columns.count())), 0.0);
  // The model records stay in the file's buffer when they fit (the usual share of missing
  // values); only a larger model file goes to disk.
  RecordFile model(files.model_path.c_str(), B_WRITE | B_VIRTUAL, -1, run.record_length);
  // The iterative models pass over their cases several times: they keep them as fit rows.
  std::optional<FitRows> rows;
  std::optional<FitCollector> fit_cases;
  if (uses_fit_rows(dep.type())) {
    rows.emplace(files.fit_path.c_str(), columns.count());
    fit_cases.emplace(run, variable, columns, *rows);
  }
  // The running sums follow every step that they hold the variable of; a step they cannot
  // follow leaves them to be recomputed.
  RunningSums* sums = pass.sums != nullptr && pass.sums->covers(variable) ? pass.sums : nullptr;
  if (pass.sums != nullptr && sums == nullptr) pass.sums->invalidate();
  const bool sums_fit = sums != nullptr && dep.type() == TYPE_CONTINUOUS &&
                        std::all_of(predictors.begin(), predictors.end(), [&](int w) { return sums->covers(w); });
  const StepData data = build_model_data(run, files, variable, predictors, pass, by_level, columns, model, how.fit.matrix,
                                         fit_cases ? &*fit_cases : nullptr, sums, sums_fit);
  if (data.model_records == 0) return;
  if (rows) how.model = choose_model(run, variable, columns, *rows, *fit_cases, how.fit, pass);
  if (!how.model) choose_continuous(run, variable, columns, data, how);
  replace_values(run, files, variable, columns, how, pass, model, sums, sums_fit);
}

}  // namespace impute
