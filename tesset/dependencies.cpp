#include "tesset/dependencies.h"

#include <string>

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

// Walks the lists of a BOUNDS block (after the nvar position words) and records, for each
// variable, the variables its bounds refer to.
void add_bound_dependencies(const ControlFile& control, DirectDependencies& deps) {
  const auto& block = control.bounds;
  const int nvar = control.nvar();
  for (int v = 0; v < nvar; ++v) {
    std::size_t at = static_cast<std::size_t>(block[v]);
    if (at == 0) continue;
    while (at < block.size() && block[at] >= 0) {
      int operands = block[at + 1];
      at += 2;
      for (int i = 0; i < operands; ++i, at += 2)
        if (block[at + 1] < 0) deps.add(v, ~block[at + 1], DEPEND_BOUND);
    }
  }
}

// Likewise for the condition variables of a RESTRICT block.
void add_restriction_dependencies(const ControlFile& control, DirectDependencies& deps) {
  const auto& block = control.restrictions;
  const int nvar = control.nvar();
  for (int v = 0; v < nvar; ++v) {
    std::size_t at = static_cast<std::size_t>(block[v]);
    if (at == 0) continue;
    while (at < block.size() && block[at] >= 0) {
      deps.add(v, block[at], DEPEND_RESTRICTION);
      at += 2 + static_cast<std::size_t>(block[at + 1]);
    }
  }
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
