#include "tesset/dependencies.h"

#include <string>

#include "control/control_blocks.h"
#include "runtime/frame.h"

namespace tesset {
namespace {

// The direct dependencies of the compacted setup, as matrix entries.
class DirectDependencies {
 public:
  explicit DirectDependencies(int ntot)
      : ntot_(ntot), matrix_(static_cast<std::size_t>(ntot) * ntot, 0), edges_(static_cast<std::size_t>(ntot)) {}

  void add(int row, int column, std::uint8_t code) {
    if (row < 0 || column < 0 || row >= ntot_ || column >= ntot_) error_exit("Dependency outside the variables");
    std::uint8_t& entry = matrix_[static_cast<std::size_t>(row) * ntot_ + column];
    if (entry == 0) edges_[row].push_back(column);
    entry |= code;
  }
  std::vector<std::uint8_t>& matrix() { return matrix_; }
  // Per row the columns it depends on directly.
  const std::vector<std::vector<int>>& edges() const { return edges_; }

 private:
  int ntot_;
  std::vector<std::uint8_t> matrix_;
  std::vector<std::vector<int>> edges_;
};

// Each variable depends on the variables of its bound expressions.
void add_bound_dependencies(const ControlFile& control, DirectDependencies& deps) {
  const BoundsView bounds(control);
  for (int v = 0; v < bounds.nvar(); ++v)
    for (const Bound& bound : bounds.of(v))
      for (const BoundOperand& operand : bound.operands)
        if (operand.is_variable()) deps.add(v, operand.variable(), DEPEND_BOUND);
}

// Likewise on the condition variables of its restrictions.
void add_restriction_dependencies(const ControlFile& control, DirectDependencies& deps) {
  const RestrictView restrictions(control);
  for (int v = 0; v < restrictions.nvar(); ++v)
    for (const Condition& condition : restrictions.of(v)) deps.add(v, condition.variable, DEPEND_RESTRICTION);
}

}  // namespace

void build_dependencies(ControlFile& control) {
  const int ntot = control.ntot();
  const int nvar = control.nvar();
  DirectDependencies deps(ntot);
  for (std::size_t k = 0; k < control.interactions.size(); ++k)
    for (std::int16_t component : control.interactions[k])
      deps.add(nvar + static_cast<int>(k), component, DEPEND_INTERACTION);
  for (int v = 0; v < static_cast<int>(control.offsets.size()); ++v)
    if (control.offsets[v] >= 0) deps.add(v, control.offsets[v], DEPEND_OFFSET);
  if (!control.bounds.empty()) add_bound_dependencies(control, deps);
  if (!control.restrictions.empty()) add_restriction_dependencies(control, deps);

  // Transitive closure by a search from every variable that depends on something: entries
  // reached only through others get the transitive code. The graph is sparse, so this stays
  // far below the cost of a full triple loop over large datasets.
  std::vector<std::uint8_t>& matrix = deps.matrix();
  const std::vector<std::vector<int>>& edges = deps.edges();
  std::vector<int> seen(static_cast<std::size_t>(ntot), -1);
  std::vector<int> stack;
  for (int r = 0; r < ntot; ++r) {
    if (edges[r].empty()) continue;
    stack.assign(edges[r].begin(), edges[r].end());
    for (int c : edges[r]) seen[c] = r;
    while (!stack.empty()) {
      int c = stack.back();
      stack.pop_back();
      std::uint8_t& entry = matrix[static_cast<std::size_t>(r) * ntot + c];
      if (entry == 0) entry = DEPEND_TRANSITIVE;
      for (int next : edges[c]) {
        if (seen[next] != r) {
          seen[next] = r;
          stack.push_back(next);
        }
      }
    }
    if (matrix[static_cast<std::size_t>(r) * ntot + r])
      error_exitf("Circular dependencies for %s", name_text(control.names[r]).c_str());
  }
  control.dependencies = std::move(matrix);
}

}  // namespace tesset
