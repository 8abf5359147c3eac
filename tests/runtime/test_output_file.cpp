// Outputs under a temporary name: the final name only ever holds a finished file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "runtime/biofile.h"
#include "runtime/output_file.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::read_text;
using testsupport::TempDir;

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(output_file, commit_replaces_the_old_file_and_an_abandoned_output_leaves_it_alone) {
  TempDir dir;
  const std::string final_path = dir.file("data.dat");
  write_text(final_path, "old");
  {
    PendingOutput output(final_path);
    EXPECT_EQ(output.path(), final_path + ".part");
    write_text(output.path(), "half");
    // Going out of scope without a commit: the older finished file stays as it was.
  }
  EXPECT_FALSE(std::filesystem::exists(final_path + ".part"));
  EXPECT_EQ(read_text(final_path), "old");
  {
    PendingOutput output(final_path);
    RecordFile records(output.path().c_str(), B_WRITE, 0, 3);
    records.write("new");
    records.close();
    output.commit();
    EXPECT_TRUE(output.committed());
  }
  EXPECT_EQ(read_text(final_path), "new");
  EXPECT_FALSE(std::filesystem::exists(final_path + ".part"));
}

TEST(output_file, discarding_all_pending_outputs_spares_committed_ones) {
  TempDir dir;
  PendingOutput done(dir.file("a.dat"));
  write_text(done.path(), "a");
  done.commit();
  PendingOutput open_one(dir.file("b.dat"));
  write_text(open_one.path(), "b");
  discard_pending_outputs();
  EXPECT_TRUE(std::filesystem::exists(dir.file("a.dat")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.dat.part")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.dat")));
}

}  // namespace
