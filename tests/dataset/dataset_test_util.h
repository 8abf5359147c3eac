// Helpers of the dataset tests: reading metadata text in-process and checking fatal errors in a
// child process whose log is inspected afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "dataset/metadata.h"
#include "runtime/frame.h"
#include "runtime/setup_reader.h"
#include "tests/support/test_support.h"

namespace dstest {

// Reads `text` as a metadata file (written into `dir`) and returns its description.
inline DatasetMeta read_metadata_text(const testsupport::TempDir& dir, const std::string& text,
                                      const std::string& name = "input.met") {
  testsupport::write_text(dir.file(name), text);
  std::FILE* file = std::fopen(dir.file(name).c_str(), "r");
  if (file == nullptr) {
    ADD_FAILURE() << "cannot open " << dir.file(name);
    return DatasetMeta();
  }
  open_setup(file);
  DatasetMeta meta = read_metadata();
  close_setup(file);
  return meta;
}

// Starts the frame on job.set in `dir` in batch mode and opens its log, so that a fatal error
// leaves its message in job.log.
inline void start_in(const testsupport::TempDir& dir) {
  static std::string setup;
  setup = dir.file("job.set");
  testsupport::write_text(setup, "run;\n");
  static char program[] = "dataset_test";
  static char batch[] = "/BATCH";
  char* argv[] = {program, setup.data(), batch, nullptr};
  start_procedure(3, argv);
  open_log();
}

// Runs `body` in a child that must end with exit code 3 and the log line "Error: <message>",
// where the message may name files of the child's folder.
inline void expect_error(const std::function<void(const testsupport::TempDir&)>& body,
                         const std::function<std::string(const testsupport::TempDir&)>& message_in) {
  testsupport::TempDir dir;
  EXPECT_EXIT(
      {
        start_in(dir);
        body(dir);
        std::exit(0);
      },
      ::testing::ExitedWithCode(3), "");
  std::string message = message_in(dir);
  std::string log = testsupport::read_text(dir.file("job.log"));
  EXPECT_NE(log.find("Error: " + message + "\n"), std::string::npos)
      << "expected: " << message << "\nlog:\n" << log;
}

// As above, for a message that names no file.
inline void expect_error(const std::function<void(const testsupport::TempDir&)>& body,
                         const std::string& message) {
  expect_error(body, [&message](const testsupport::TempDir&) { return message; });
}

// Expects reading the metadata `text` to stop with `message`.
inline void expect_metadata_error(const std::string& text, const std::string& message) {
  expect_error([&](const testsupport::TempDir& dir) { read_metadata_text(dir, text); }, message);
}

}  // namespace dstest
