// End-to-end tests of the XML setup runner: a copy of ambrex runs from the bin folder of a
// temporary installation whose settings file names stand-in hosts (shell scripts that record
// how they were started and end with a chosen status); the real R and the real driver run too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::RunResult;
using testsupport::TempDir;

namespace {

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

bool have_rscript() { return std::system("Rscript --version > /dev/null 2>&1") == 0; }

// A temporary installation (bin/ambrex, settings.xml, R/init.R) with the XML setups in its
// folder "job"; ambrex runs from the installation's root.
class Installation {
 public:
  Installation() {
    fs::create_directories(dir_.path() / "bin");
    fs::create_directories(dir_.path() / "job");
    fs::create_directories(dir_.path() / "R");
    fs::copy_file(fs::path(testsupport::bin_dir()) / "ambrex", dir_.path() / "bin" / "ambrex");
    write("R/init.R", "init_loaded <- TRUE\n");
    settings_ = "<settings>\n";
    write("settings.xml", settings_ + "</settings>\n");
  }

  std::string root() const { return dir_.path().string(); }
  std::string path(const std::string& name) const { return dir_.file(name); }
  void write(const std::string& name, const std::string& text) const {
    testsupport::write_text(path(name), text);
  }
  std::string read(const std::string& name) const { return testsupport::read_text(path(name)); }
  bool exists(const std::string& name) const { return fs::exists(path(name)); }

  // The settings file names a stand-in for `platform` that ends with `status` ("kill" ends it
  // by a signal). It records its name, arguments and working folder in calls.txt.
  void host(const std::string& platform, const std::string& status) {
    const std::string script = "hosts/" + platform;
    fs::create_directories(dir_.path() / "hosts");
    const std::string ending = status == "kill" ? "kill -9 $$\n" : "exit " + status + "\n";
    write(script, "#!/bin/sh\necho \"" + platform + " [$*] in $(pwd)\" >> " +
                      testsupport::shell_quote(path("calls.txt")) + "\n" + ending);
    fs::permissions(path(script), fs::perms::owner_all);
    name_in_settings(platform, path(script));
  }
  void name_in_settings(const std::string& platform, const std::string& executable) {
    settings_ += "  <" + platform + " path=\"" + executable + "\"/>\n";
    write("settings.xml", settings_ + "</settings>\n");
  }

  // Runs ambrex on job/<name>.xml holding `xml`, from the installation's root.
  RunResult run(const std::string& xml, const std::string& name = "job",
                const std::string& switches = "") const {
    write("job/" + name + ".xml", xml);
    return run_existing(name, switches);
  }
  RunResult run_existing(const std::string& name, const std::string& switches = "") const {
    return testsupport::run_command("bin/ambrex job/" + name + switches, root());
  }

  // What the stand-ins recorded, with the installation shown as <root>.
  std::string calls() const { return exists("calls.txt") ? masked(read("calls.txt")) : ""; }
  std::string masked(const std::string& text) const { return replace_all(text, root(), "<root>"); }

 private:
  TempDir dir_;
  std::string settings_;
};

// The message line of a failed run (on standard error), when it is the only line there.
std::string error_line(const RunResult& result) {
  const std::string& text = result.errors;
  if (text.rfind("Error: ", 0) != 0 || text.find('\n') != text.size() - 1) return "";
  return text.substr(0, text.size() - 1);
}

TEST(ambrex, the_example_job_writes_its_setup_and_r_program_exactly_and_runs_r) {
  Installation installation;
  installation.host("r", "0");
  const RunResult result = installation.run(
      "<R>\nx <- 1\n<describe name=\"d1\">datain d; run;</describe>\n</R>\n", "job", " /batch");
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(installation.read("job/d1.set"), "datain d; run;");
  EXPECT_EQ(installation.masked(installation.read("job/job.xml.R")),
            testsupport::expected_text("ambrex/expected/job.xml.R"));
  EXPECT_EQ(installation.calls(), "r [<root>/job/job.xml.R] in <root>/job\n");
  const std::string log = testsupport::mask_volatile(installation.read("job/job.log"));
  EXPECT_NE(log.find("<time>\n  Begin Ambrex execution\n<time>\n  End Ambrex execution\n"), std::string::npos)
      << log;
}

TEST(ambrex, real_r_runs_the_program_beside_the_xml_file_after_the_library_preamble) {
  if (!have_rscript()) GTEST_SKIP() << "Rscript is not installed";
  Installation installation;  // no r element: Rscript from the search path
  const RunResult result = installation.run(
      "<r>\nwriteLines(c(amblib, as.character(init_loaded)), \"ran.txt\")\n</r>\n", "job", " /batch");
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(installation.masked(installation.read("job/ran.txt")), "<root>/R\nTRUE\n");
}

TEST(ambrex, only_blank_text_may_follow_the_last_platform_element) {
  Installation installation;
  installation.host("r", "0");
  EXPECT_EQ(installation.run("<?xml version=\"1.0\"?>\n<R name=\"a\"></R>\n \t\r\n\n").exit_code, 0);
  const RunResult junk = installation.run("<R name=\"a\"></R>\n  junk after\nmore");
  EXPECT_EQ(junk.exit_code, 3);
  EXPECT_EQ(error_line(junk), "Error: Missing platform tag: junk after");
  // The host of the element before the stray text has run.
  EXPECT_EQ(installation.calls(), "r [<root>/job/a.R] in <root>/job\nr [<root>/job/a.R] in <root>/job\n");
}

TEST(ambrex, an_empty_platform_element_only_launches_the_host_on_an_existing_program) {
  Installation installation;
  installation.host("sas", "0");
  installation.host("stata", "0");
  const RunResult result = installation.run("<sas name=\"prog\" /> <STATA dir=\"sub\" name=\"p2\"></STATA>");
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(
      installation.calls(),
      "sas [-sysin <root>/job/prog.sas] in <root>/job\nstata [do <root>/job/sub/p2.do] in <root>/job\n");
  EXPECT_FALSE(installation.exists("job/prog.sas"));
  EXPECT_FALSE(installation.exists("job/sub"));
}

TEST(ambrex, host_statuses_decide_whether_the_run_goes_on) {
  Installation installation;
  installation.host("sas", "1");
  installation.host("r", "1");
  installation.host("stata", "kill");
  RunResult result = installation.run("<sas name=\"a\"/><R name=\"b\"/><sas name=\"c\"/>");
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(error_line(result), "Error: Abnormal termination of r, return code 1");
  EXPECT_EQ(installation.masked(installation.calls()),
            "sas [-sysin <root>/job/a.sas] in <root>/job\nr [<root>/job/b.R] in <root>/job\n");

  result = installation.run("<stata name=\"a\"/>");
  EXPECT_EQ(error_line(result), "Error: Abnormal termination of stata, return code 137");

  installation.name_in_settings("spss", installation.path("hosts/none"));
  result = installation.run("<spss name=\"/abs/a\"/>");
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(error_line(result), "Error: CreateProcess failed (2)");
}

TEST(ambrex, stata_program_repeats_a_global_only_when_it_changes) {
  Installation installation;
  installation.host("stata", "0");
  const RunResult result = installation.run(
      "<stata>\nuse x\n"
      "<emitdata name=\"e1\" dataout=\"out1\" impl=\"2\">datain a; run;</emitdata>\n"
      "<emitdata name=\"e2\" dataout=\"out2\" impl=\"2\" mult=\"CONcat\" mode=\"test\"/>\n"
      "<describe name=\"d1\" dir=\"sub\" impl=\"5\"/>\n"
      "summarize\n</stata>");
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(installation.masked(installation.read("job/job.xml.do")),
            testsupport::expected_text("ambrex/expected/job.xml.do"));
  EXPECT_EQ(installation.read("job/e1.set"), "datain a; run;");
  EXPECT_FALSE(installation.exists("job/e2.set"));
}

TEST(ambrex, procedure_elements_need_a_setup_name_of_their_own) {
  Installation installation;
  installation.host("r", "0");
  RunResult result = installation.run("<R>\n<describe dir=\"x\">datain d; run;</describe>\n</R>");
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(error_line(result), "Error: Missing describe setup name");
  fs::create_directories(installation.path("job/s"));
  result = installation.run("<ambrel name=\"m\" dir=\"s\"><impute name=\"m\"/></ambrel>");
  EXPECT_EQ(error_line(result), "Error: Repeated setup file path s/m");
  result = installation.run("<ambrel name=\"m\"><impute name=\"m\"/></ambrel>");
  EXPECT_EQ(error_line(result), "Error: Repeated setup file path m");
  EXPECT_EQ(installation.calls(), "");
}

TEST(ambrex, debug_mode_writes_the_launch_command_to_a_batch_file) {
  Installation installation;
  installation.host("sas", "0");
  const RunResult result = installation.run("<sas name=\"my prog\" mode=\"debug\">\ndata x; run;\n</sas>");
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(installation.masked(installation.read("job/my prog.bat")),
            "<root>/hosts/sas -sysin \"<root>/job/my prog.sas\"\n");
  EXPECT_EQ(
      installation.masked(installation.read("job/my prog.sas")),
      "options set = AMBLIB '<root>/sas' sasautos = ('!AMBLIB' sasautos) mautosource;\r\n\r\ndata x; run;\n");
}

TEST(ambrex, bad_xml_ends_with_one_clear_message) {
  struct Case {
    std::string xml;
    std::string message;
  };
  const Case cases[] = {
      {"<R name=\"a\"\nx <- 1\n", "Error: Missing platform tag: <R name=\"a\""},
      {"<R>\nx <- 1\n</R\n", "Error: Missing </r> tag"},
      {"<R>\nx <- 1\n", "Error: Missing </r> tag"},
      {"<R>\n<impute name=\"i\">datain d; run;\n</R>", "Error: Missing </impute> tag"},
      {"<R>\n<impute name=\"i\"\n</R>", "Error: Missing > of the <impute tag"},
      {"<R name=\"a\"b\" dir=\"c\"></R>", "Error: XML syntax error: me=\"a\"b\" dir=\"c\""},
      {"<R name=\"a\"\n\"b\"></R>", "Error: XML syntax error: e=\"a\" \"b\""},
      {"<R>\n<describe name=d1/>\n</R>", "Error: XML syntax error: name=d1"},
      {"<sas name=\"a\" \"/>", "Error: XML syntax error: ame=\"a\" \""},
  };
  Installation installation;
  installation.host("r", "0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xml);
    const RunResult result = installation.run(c.xml);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(error_line(result), c.message) << result.output;
  }
  EXPECT_EQ(installation.calls(), "");
}

TEST(ambrex, large_and_random_input_ends_with_an_error_in_time) {
  Installation installation;
  installation.host("r", "0");
  std::mt19937 generator(19);
  std::string random(1 << 20, '\0');
  for (char& c : random) c = static_cast<char>(generator() & 0xff);
  std::string tag_starts;
  std::string procedure_starts;
  for (int i = 0; i < (1 << 19); ++i) {
    tag_starts += "<R";
    procedure_starts += "<impute";
  }
  // Neither a crash nor a search that goes over the text again from each of its places.
  const std::string inputs[] = {
      random,
      tag_starts,
      "<R" + std::string(1 << 20, ' ') + ">x",
      "<R>" + procedure_starts + "</R>",
  };
  for (const std::string& input : inputs) {
    const RunResult result = installation.run(input);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(error_line(result), "");
  }
  EXPECT_EQ(installation.calls(), "");
}

TEST(ambrex, missing_xml_file_is_named_in_the_message) {
  Installation installation;
  const RunResult result = installation.run_existing("absent");
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(error_line(result), "Error: Can't open job/absent.xml");
}

TEST(ambrex, an_ambrel_platform_runs_the_real_driver_on_its_master_setup) {
  Installation installation;
  for (const char* program : {"ambrel", "getdata"}) {
    fs::copy_file(fs::path(testsupport::bin_dir()) / program,
                  installation.path(std::string("bin/") + program));
  }
  installation.write("job/t.csv", "id,x\n1,2.5\n2,3.5\n");
  const RunResult result = installation.run(
      "<ambrel name=\"master\">\n<getdata name=\"g\">datain t.csv; table; delim csv; "
      "run;</getdata>\n</ambrel>\n");
  EXPECT_EQ(result.exit_code, 0) << result.output;
  EXPECT_EQ(installation.read("job/master.set"), "%getdata(name=g);\r\n\r\n");
  EXPECT_TRUE(installation.exists("job/g.met"));
  EXPECT_TRUE(installation.exists("job/g.dat"));
  const std::string log = installation.read("job/master.log");
  EXPECT_NE(log.find("Begin getdata execution"), std::string::npos) << log;
  EXPECT_NE(log.find("Normal termination"), std::string::npos) << log;

  // The driver finds the setup files in the platform's folder and in a folder of their own.
  fs::create_directories(installation.path("job/s/t"));
  installation.write("job/s/t.csv", "id,x\n1,2.5\n");
  installation.write("job/s/t/t.csv", "id,x\n1,2.5\n");
  const RunResult in_folders = installation.run(
      "<ambrel name=\"master\" dir=\"s\">\n"
      "<getdata name=\"g\">datain t.csv; table; delim csv; run;</getdata>\n"
      "<getdata name=\"h\" dir=\"s/t\">datain t.csv; table; delim csv; run;</getdata>\n</ambrel>\n");
  EXPECT_EQ(in_folders.exit_code, 0) << in_folders.output;
  EXPECT_EQ(installation.masked(installation.read("job/s/master.set")),
            "%getdata(name=g);\r\n\r\n%getdata(name=h, dir=<root>/job/s/t/);\r\n\r\n");
  EXPECT_TRUE(installation.exists("job/s/g.met"));
  EXPECT_TRUE(installation.exists("job/s/t/h.met"));
}

}  // namespace
