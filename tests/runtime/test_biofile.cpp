// Record files: buffer sizing, round trips through every storage strategy, the virtual spill,
// rewinding, positioning, reopening, and the fatal messages that name the file.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/biofile.h"
#include "runtime/frame.h"
#include "tests/support/test_support.h"

// This binary's identity for the frame (declared in frame.h, so the definition is external).
const char program_title[] = "Tessary record file tests";
bool new_log = true;

namespace {

using testsupport::read_bytes;
using testsupport::TempDir;
using testsupport::write_bytes;

// Record `index` of length `length`: every byte tells the record and its place in it.
std::vector<std::uint8_t> make_record(int index, int length) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(length));
  for (int j = 0; j < length; ++j) record[static_cast<std::size_t>(j)] = static_cast<std::uint8_t>(index * 31 + j);
  return record;
}

// `count` records of `length` bytes, back to back.
std::vector<std::uint8_t> make_records(int count, int length) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    auto record = make_record(i, length);
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return bytes;
}

void write_records(biofile* bf, int count, int length) {
  for (int i = 0; i < count; ++i) bwrite(bf, make_record(i, length).data(), length);
}

// Reads `count` records and checks each; the next read must report the end of the data.
void expect_records(biofile* bf, int count, int length) {
  std::vector<std::uint8_t> got(static_cast<std::size_t>(length));
  for (int i = 0; i < count; ++i) {
    ASSERT_NE(bread(bf, got.data(), length), nullptr) << "record " << i;
    ASSERT_EQ(got, make_record(i, length)) << "record " << i;
  }
  EXPECT_EQ(bread(bf, got.data(), length), nullptr);
}

// The line a fatal error prints when no log is open.
std::string fatal(const std::string& text) { return "Error: " + text; }

TEST(biofile, buffer_is_rounded_to_whole_records_or_dropped) {
  TempDir dir;
  biofile* rounded = bopen(dir.file("a").c_str(), nullptr, B_WRITE, 100, 40);
  EXPECT_EQ(bbuffer_length(rounded), 80);
  biofile* too_small = bopen(dir.file("b").c_str(), nullptr, B_WRITE, 60, 40);
  EXPECT_EQ(bbuffer_length(too_small), 0);
  biofile* two_records = bopen(dir.file("c").c_str(), nullptr, B_WRITE, 80, 40);
  EXPECT_EQ(bbuffer_length(two_records), 80);
  // The default follows the free memory but never exceeds 4 MiB.
  biofile* automatic = bopen(dir.file("d").c_str(), nullptr, B_WRITE, -1, 64);
  EXPECT_GT(bbuffer_length(automatic), 0);
  EXPECT_LE(bbuffer_length(automatic), std::int64_t{4} << 20);
  EXPECT_EQ(bbuffer_length(automatic) % 64, 0);
  biofile* odd = bopen(dir.file("e").c_str(), nullptr, B_WRITE, -1, 1000);
  EXPECT_EQ(bbuffer_length(odd) % 1000, 0);
  for (biofile* bf : {rounded, too_small, two_records, automatic, odd}) bclose(bf, B_DELETE);
}

TEST(biofile, read_buffer_shrinks_to_the_file) {
  TempDir dir;
  const std::string path = dir.file("ten");
  write_bytes(path, make_records(10, 24));
  biofile* bf = bopen(path.c_str(), nullptr, B_READ, -1, 24);
  EXPECT_EQ(bbuffer_length(bf), 240);
  EXPECT_EQ(bfile_size(bf), 240);
  expect_records(bf, 10, 24);
  EXPECT_EQ(brecord_count(bf), 10);
  bclose(bf, B_RELEASE);

  // An empty file ends up unbuffered and simply has no records.
  const std::string empty = dir.file("empty");
  write_bytes(empty, {});
  bf = bopen(empty.c_str(), nullptr, B_READ, -1, 24);
  EXPECT_EQ(bbuffer_length(bf), 0);
  std::vector<std::uint8_t> got(24);
  EXPECT_EQ(bread(bf, got.data(), 0), nullptr);
  // Read in place, too: there is no record to point into, and that is the end of the data.
  EXPECT_EQ(bread(bf, nullptr, 0), nullptr);
  bclose(bf, B_RELEASE);
}

TEST(biofile, round_trip_through_every_buffer_size) {
  TempDir dir;
  const int count = 100;
  const int length = 40;
  // Unbuffered, never flushed, flushed exactly at the end, flushed many times, split records.
  for (std::int64_t buffer : {0, 8000, 4000, 400, 120}) {
    SCOPED_TRACE(buffer);
    const std::string path = dir.file("rt" + std::to_string(buffer));
    biofile* bf = bopen(path.c_str(), nullptr, B_WRITE, buffer, length);
    write_records(bf, count, length);
    EXPECT_EQ(brecord_count(bf), count);
    bclose(bf, B_CLOSE);
    EXPECT_EQ(read_bytes(path), make_records(count, length));
    EXPECT_EQ(bfile_size(bf), count * length);

    bopen(nullptr, bf, B_READ, 0, 0);
    expect_records(bf, count, length);
    bclose(bf, B_CLOSE);
    // Reading the same block again starts from the beginning.
    bopen(nullptr, bf, B_READ, 0, 0);
    expect_records(bf, count, length);
    bclose(bf, B_RELEASE);
    EXPECT_TRUE(std::filesystem::exists(path));

    // A fresh block with a buffer that does not divide the record stream.
    bf = bopen(path.c_str(), nullptr, B_READ, 1010, 0);
    expect_records(bf, count, length);
    bclose(bf, B_RELEASE);
  }
}

TEST(biofile, null_pointers_work_inside_the_buffer) {
  TempDir dir;
  const std::string path = dir.file("direct");
  biofile* bf = bopen(path.c_str(), nullptr, B_WRITE, 160, 16);
  for (int i = 0; i < 25; ++i) {
    void* slot = bwrite(bf, nullptr, 0);
    std::memcpy(slot, make_record(i, 16).data(), 16);
  }
  bclose(bf, B_CLOSE);
  EXPECT_EQ(read_bytes(path), make_records(25, 16));
  bopen(nullptr, bf, B_READ, 0, 0);
  for (int i = 0; i < 25; ++i) {
    auto* record = static_cast<const std::uint8_t*>(bread(bf, nullptr, 0));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(record, record + 16), make_record(i, 16)) << i;
  }
  EXPECT_EQ(bread(bf, nullptr, 0), nullptr);
  bclose(bf, B_RELEASE);
}

TEST(biofile, file_ending_inside_a_record) {
  TempDir dir;
  const std::string path = dir.file("hundred");
  write_bytes(path, make_records(5, 20));  // 100 bytes: four 24-byte records and 4 bytes
  std::vector<std::uint8_t> got(24);
  EXPECT_EXIT(
      {
        biofile* bf = bopen(path.c_str(), nullptr, B_READ, -1, 24);
        for (int i = 0; i < 5; ++i) bread(bf, got.data(), 0);
      },
      testing::ExitedWithCode(3), fatal("Can't read " + path));

  // Unbuffered, the incomplete record reads as the end of the data.
  biofile* bf = bopen(path.c_str(), nullptr, B_READ, 0, 24);
  for (int i = 0; i < 4; ++i) EXPECT_NE(bread(bf, got.data(), 0), nullptr);
  EXPECT_EQ(bread(bf, got.data(), 0), nullptr);
  bclose(bf, B_RELEASE);

  // A large file cut short: the fault shows at the last refill, not at the first one.
  const std::string cut = dir.file("cut");
  auto bytes = make_records(1000, 32);
  bytes.erase(bytes.end() - 10, bytes.end());
  write_bytes(cut, bytes);
  EXPECT_EXIT(
      {
        biofile* big = bopen(cut.c_str(), nullptr, B_READ, 640, 32);
        while (bread(big, nullptr, 0) != nullptr) {
        }
      },
      testing::ExitedWithCode(3), fatal("Can't read " + cut));
}

// Runs of records: every record comes once and in order, whether the buffer holds whole records
// or splits one, whether the file is on disk or virtual, and mixed with single reads; a file that
// ends inside a record is refused as by bread.
TEST(biofile, runs_of_records_cover_the_file_once) {
  TempDir dir;
  const int count = 100;
  const int length = 40;
  const std::string path = dir.file("runs");
  write_bytes(path, make_records(count, length));
  auto read_all = [&](biofile* bf) {
    std::vector<std::uint8_t> seen;
    std::int64_t run = 0;
    int index = 0;
    while (unsigned char* first = bread_records(bf, run)) {
      EXPECT_GT(run, 0);
      seen.insert(seen.end(), first, first + run * length);
      // Every third run is followed by one single read.
      if (++index % 3 == 0) {
        if (const auto* record = static_cast<const std::uint8_t*>(bread(bf, nullptr, 0))) seen.insert(seen.end(), record, record + length);
      }
    }
    EXPECT_EQ(run, 0);
    EXPECT_EQ(brecord_count(bf), count);
    return seen;
  };
  for (std::int64_t buffer : {4000, 1010, 80}) {
    SCOPED_TRACE(buffer);
    biofile* bf = bopen(path.c_str(), nullptr, B_READ, buffer, length);
    EXPECT_EQ(read_all(bf), make_records(count, length));
    bclose(bf, B_RELEASE);
  }
  // An empty file (left without a buffer) has no run.
  const std::string empty = dir.file("empty");
  write_bytes(empty, {});
  biofile* none = bopen(empty.c_str(), nullptr, B_READ, -1, length);
  std::int64_t none_run = 1;
  EXPECT_EQ(bread_records(none, none_run), nullptr);
  EXPECT_EQ(none_run, 0);
  bclose(none, B_RELEASE);
  biofile* held = bopen(nullptr, nullptr, B_WRITE | B_VIRTUAL, 8000, length);
  write_records(held, count, length);
  bclose(held, B_CLOSE);
  bopen(nullptr, held, B_READ, 0, 0);
  EXPECT_EQ(read_all(held), make_records(count, length));
  bclose(held, B_RELEASE);

  const std::string cut = dir.file("cut");
  auto bytes = make_records(count, length);
  bytes.pop_back();
  write_bytes(cut, bytes);
  EXPECT_EXIT(
      {
        biofile* bf = bopen(cut.c_str(), nullptr, B_READ, 400, length);
        std::int64_t run = 0;
        while (bread_records(bf, run) != nullptr) {
        }
      },
      testing::ExitedWithCode(3), fatal("Can't read " + cut));
}

TEST(biofile, virtual_file_spills_when_it_outgrows_its_buffer) {
  biofile* bf = bopen(nullptr, nullptr, B_WRITE | B_VIRTUAL, 1000, 40);
  write_records(bf, 25, 40);
  EXPECT_NE(bmode(bf) & B_VIRTUAL, 0);
  EXPECT_STREQ(bpath(bf), "");
  bwrite(bf, make_record(25, 40).data(), 0);  // the 26th record does not fit
  EXPECT_EQ(bmode(bf) & B_VIRTUAL, 0);
  const std::string spilled = bpath(bf);
  ASSERT_FALSE(spilled.empty());
  EXPECT_EQ(bfile_size(bf), 1000);

  // Records 26 to 30 follow the spilled ones.
  for (int i = 26; i < 30; ++i) bwrite(bf, make_record(i, 40).data(), 0);
  bclose(bf, B_CLOSE);
  EXPECT_EQ(read_bytes(spilled), make_records(30, 40));

  bopen(nullptr, bf, B_READ, 0, 0);
  expect_records(bf, 30, 40);
  bclose(bf, B_DELETE);
  EXPECT_FALSE(std::filesystem::exists(spilled));
}

TEST(biofile, virtual_file_that_fits_never_touches_the_disk) {
  TempDir dir;
  const std::string path = dir.file("work");
  biofile* bf = bopen(path.c_str(), nullptr, B_WRITE | B_VIRTUAL, 1000, 40);
  write_records(bf, 20, 40);
  bclose(bf, B_CLOSE);
  EXPECT_FALSE(std::filesystem::exists(path));
  bopen(nullptr, bf, B_READ | B_VIRTUAL, 0, 0);
  expect_records(bf, 20, 40);
  bclose(bf, B_REWIND);
  expect_records(bf, 20, 40);
  bclose(bf, B_CLOSE);
  // Appending continues after the data in memory.
  bopen(nullptr, bf, B_APPEND, 0, 0);
  for (int i = 20; i < 24; ++i) bwrite(bf, make_record(i, 40).data(), 0);
  bclose(bf, B_CLOSE);
  bopen(nullptr, bf, B_READ, 0, 0);
  expect_records(bf, 24, 40);
  bclose(bf, B_DELETE);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(biofile, rewind_restarts_at_the_first_record) {
  TempDir dir;
  const std::string path = dir.file("large");
  write_bytes(path, make_records(1000, 16));
  for (std::int64_t buffer : {0, 160, 100000}) {
    SCOPED_TRACE(buffer);
    biofile* bf = bopen(path.c_str(), nullptr, B_READ, buffer, 16);
    std::vector<std::uint8_t> got(16);
    for (int i = 0; i < 537; ++i) bread(bf, got.data(), 0);
    bclose(bf, B_REWIND);
    EXPECT_EQ(brecord_count(bf), 0);
    expect_records(bf, 1000, 16);
    bclose(bf, B_REWIND);
    expect_records(bf, 1000, 16);
    bclose(bf, B_RELEASE);
  }
  EXPECT_EXIT(
      {
        biofile* bf = bopen(dir.file("w").c_str(), nullptr, B_WRITE, 160, 16);
        bclose(bf, B_REWIND);
      },
      testing::ExitedWithCode(3), fatal("Can't rewind " + dir.file("w")));
}

TEST(biofile, seek_moves_within_and_beyond_the_buffer) {
  TempDir dir;
  const std::string path = dir.file("seek");
  write_bytes(path, make_records(100, 10));
  std::vector<std::uint8_t> got(10);
  for (std::int64_t buffer : {0, 50, 2000}) {
    SCOPED_TRACE(buffer);
    biofile* bf = bopen(path.c_str(), nullptr, B_READ, buffer, 10);
    EXPECT_EQ(bseek(bf, 70 * 10, 0), 0);  // outside a small buffer: loads another block
    bread(bf, got.data(), 0);
    EXPECT_EQ(got, make_record(70, 10));
    EXPECT_EQ(bseek(bf, -2 * 10, 1), 0);  // relative: back to record 69
    bread(bf, got.data(), 0);
    EXPECT_EQ(got, make_record(69, 10));
    EXPECT_EQ(bseek(bf, 3 * 10, 0), 0);  // far back
    bread(bf, got.data(), 0);
    EXPECT_EQ(got, make_record(3, 10));
    EXPECT_EQ(bseek(bf, 65, 0), 0);  // not on a record boundary: later reads straddle blocks
    for (int i = 0; i < 30; ++i) {
      bread(bf, got.data(), 0);
      std::vector<std::uint8_t> expected(10);
      auto all = make_records(100, 10);
      std::copy(all.begin() + 65 + i * 10, all.begin() + 75 + i * 10, expected.begin());
      ASSERT_EQ(got, expected) << i;
    }
    EXPECT_EQ(bseek(bf, 1000, 0), 0);  // exactly at the end
    EXPECT_EQ(bread(bf, got.data(), 0), nullptr);
    bclose(bf, B_RELEASE);
  }
  EXPECT_EXIT(
      {
        biofile* bf = bopen(path.c_str(), nullptr, B_READ, 50, 10);
        bseek(bf, 5000, 0);
      },
      testing::ExitedWithCode(3), fatal("Can't seek " + path));
  EXPECT_EXIT(
      {
        biofile* bf = bopen(dir.file("w").c_str(), nullptr, B_WRITE, 50, 10);
        bseek(bf, 0, 0);
      },
      testing::ExitedWithCode(3), fatal("Can't seek " + dir.file("w")));
}

TEST(biofile, seek_outside_a_virtual_file_reports_and_stays) {
  biofile* bf = bopen(nullptr, nullptr, B_WRITE | B_VIRTUAL, 400, 10);
  write_records(bf, 20, 10);
  bclose(bf, B_CLOSE);
  bopen(nullptr, bf, B_READ, 0, 0);
  std::vector<std::uint8_t> got(10);
  bread(bf, got.data(), 0);
  EXPECT_EQ(bseek(bf, 201, 0), 1);
  EXPECT_EQ(bseek(bf, -20, 1), 1);
  bread(bf, got.data(), 0);
  EXPECT_EQ(got, make_record(1, 10));  // position unchanged by the refused seeks
  EXPECT_EQ(bseek(bf, 190, 0), 0);
  bread(bf, got.data(), 0);
  EXPECT_EQ(got, make_record(19, 10));
  EXPECT_EQ(bread(bf, got.data(), 0), nullptr);
  bclose(bf, B_RELEASE);
}

TEST(biofile, append_adds_after_the_existing_records) {
  TempDir dir;
  const std::string path = dir.file("log");
  write_bytes(path, make_records(3, 12));
  for (std::int64_t buffer : {0, 48}) {
    SCOPED_TRACE(buffer);
    write_bytes(path, make_records(3, 12));
    biofile* bf = bopen(path.c_str(), nullptr, B_APPEND, buffer, 12);
    EXPECT_EQ(brecord_count(bf), 3);
    for (int i = 3; i < 10; ++i) bwrite(bf, make_record(i, 12).data(), 0);
    bclose(bf, B_CLOSE);
    EXPECT_EQ(read_bytes(path), make_records(10, 12));
    // Reopened for appending, the suspended block continues at the end again.
    bopen(nullptr, bf, B_APPEND, 0, 0);
    EXPECT_EQ(brecord_count(bf), 10);
    bwrite(bf, make_record(10, 12).data(), 0);
    bclose(bf, B_CLOSE);
    bopen(nullptr, bf, B_READ, 0, 0);
    expect_records(bf, 11, 12);
    bclose(bf, B_RELEASE);
  }
  // Virtual appending loads the file and writes it back only when it spills.
  write_bytes(path, make_records(3, 12));
  biofile* bf = bopen(path.c_str(), nullptr, B_APPEND | B_VIRTUAL, 72, 12);
  EXPECT_NE(bmode(bf) & B_VIRTUAL, 0);
  for (int i = 3; i < 8; ++i) bwrite(bf, make_record(i, 12).data(), 0);
  EXPECT_EQ(bmode(bf) & B_VIRTUAL, 0);
  bclose(bf, B_RELEASE);
  EXPECT_EQ(read_bytes(path), make_records(8, 12));
}

TEST(biofile, release_keeps_the_file_and_delete_removes_it) {
  TempDir dir;
  const std::string kept = dir.file("kept");
  const std::string gone = dir.file("gone");
  biofile* a = bopen(kept.c_str(), nullptr, B_WRITE, 100, 10);
  biofile* b = bopen(gone.c_str(), nullptr, B_WRITE, 100, 10);
  write_records(a, 3, 10);
  write_records(b, 3, 10);
  bclose(a, B_RELEASE);
  bclose(b, B_DELETE);
  EXPECT_EQ(read_bytes(kept), make_records(3, 10));
  EXPECT_FALSE(std::filesystem::exists(gone));
  bclose(nullptr, B_DELETE);  // ignored
}

TEST(biofile, temporary_write_file_gets_a_name) {
  biofile* bf = bopen(nullptr, nullptr, B_WRITE, 100, 10);
  const std::string path = bpath(bf);
  EXPECT_FALSE(path.empty());
  EXPECT_TRUE(std::filesystem::exists(path));
  bclose(bf, B_DELETE);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(biofile, reopen_checks_consistency) {
  TempDir dir;
  const std::string path = dir.file("r");
  write_bytes(path, make_records(4, 8));
  auto suspended = [&] {
    biofile* bf = bopen(path.c_str(), nullptr, B_READ, 16, 8);
    bclose(bf, B_CLOSE);
    return bf;
  };
  const auto fails = testing::ExitedWithCode(3);
  EXPECT_EXIT(bopen("other", suspended(), B_READ, 0, 0), fails, fatal("Bopen and biofile fname different"));
  EXPECT_EXIT(bopen(nullptr, suspended(), B_READ, 24, 0), fails, fatal("Bopen and biofile buflen unequal"));
  EXPECT_EXIT(bopen(nullptr, suspended(), B_READ, 0, 4), fails, fatal("Bopen and biofile reclen unequal"));
  EXPECT_EXIT(bopen(nullptr, suspended(), B_READ | B_VIRTUAL, 0, 0), fails,
              fatal("Bopen and biofile virtual modes inconsistent"));
  EXPECT_EXIT(bopen(nullptr, suspended(), B_VIRTUAL, 0, 0), fails, fatal("Invalid bopen mode"));
  EXPECT_EXIT(
      {
        biofile* bf = bopen(path.c_str(), nullptr, B_READ, 16, 8);
        bopen(nullptr, bf, B_READ, 0, 0);
      },
      fails, fatal("Can't open " + path));
  EXPECT_EXIT(
      {
        biofile* bf = suspended();
        bclose(bf, B_RELEASE);
        bopen(nullptr, bf, B_READ, 0, 0);
      },
      fails, fatal("Bopen biofile missing"));

  // Matching values, and the default buffer request, are accepted.
  biofile* bf = suspended();
  bopen(path.c_str(), bf, B_READ, -1, 8);
  expect_records(bf, 4, 8);
  bclose(bf, B_RELEASE);
}

TEST(biofile, bad_requests_end_the_run_naming_the_file) {
  TempDir dir;
  const std::string path = dir.file("f");
  const std::string missing = dir.file("missing");
  write_bytes(path, make_records(4, 8));
  const auto fails = testing::ExitedWithCode(3);
  EXPECT_EXIT(bopen(path.c_str(), nullptr, B_VIRTUAL, 0, 8), fails, fatal("Invalid bopen mode"));
  EXPECT_EXIT(bopen(path.c_str(), nullptr, B_READ, 0, -1), fails, fatal("Invalid bopen reclen"));
  EXPECT_EXIT(bopen(nullptr, nullptr, B_READ, 0, 8), fails, fatal("Missing bopen fname"));
  EXPECT_EXIT(bopen(nullptr, nullptr, B_APPEND, 0, 8), fails, fatal("Missing bopen fname"));
  EXPECT_EXIT(bopen(missing.c_str(), nullptr, B_READ, 0, 8), fails, fatal("Can't open " + missing));
  EXPECT_EXIT(bopen((dir.file("no") + "/x").c_str(), nullptr, B_WRITE, 0, 8), fails,
              fatal("Can't open " + dir.file("no") + "/x"));
  EXPECT_EXIT(
      {
        biofile* bf = bopen(path.c_str(), nullptr, B_READ, 16, 8);
        bwrite(bf, "12345678", 0);
      },
      fails, fatal("Can't write " + path));
  EXPECT_EXIT(
      {
        biofile* bf = bopen(dir.file("w").c_str(), nullptr, B_WRITE, 16, 8);
        bread(bf, nullptr, 0);
      },
      fails, fatal("Can't read " + dir.file("w")));
  EXPECT_EXIT(
      {
        biofile* bf = bopen(dir.file("w").c_str(), nullptr, B_WRITE, 16, 8);
        bwrite(bf, std::string(17, 'x').data(), 17);
      },
      fails, fatal("Can't write " + dir.file("w")));
  EXPECT_EXIT(
      {
        biofile* bf = bopen(path.c_str(), nullptr, B_READ, 16, 8);
        bread(bf, nullptr, 17);
      },
      fails, fatal("Can't read " + path));
  // Temporary names are made in the system's temporary folder; without one there is no name.
  EXPECT_EXIT(
      {
        setenv("TMPDIR", dir.file("no").c_str(), 1);
        bopen(nullptr, nullptr, B_WRITE, 0, 8);
      },
      fails, fatal("Can't create temporary file name"));
}

TEST(biofile, fatal_exit_leaves_written_records_on_disk) {
  TempDir dir;
  const std::string path = dir.file("partial");
  const std::string work = dir.file("work");
  EXPECT_EXIT(
      {
        biofile* bf = bopen(path.c_str(), nullptr, B_WRITE, 4096, 16);
        write_records(bf, 50, 16);
        biofile* suspended = bopen(work.c_str(), nullptr, B_WRITE, 4096, 16);
        write_records(suspended, 5, 16);
        bclose(suspended, B_CLOSE);
        error_exit("Stopped");
      },
      testing::ExitedWithCode(3), fatal("Stopped"));
  EXPECT_EQ(read_bytes(path), make_records(50, 16));
  EXPECT_EQ(read_bytes(work), make_records(5, 16));
}

}  // namespace
