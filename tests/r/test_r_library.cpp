// The R library R/init.R, run by real Rscript from the build's R folder: an R program written as
// the XML runner writes one (the two lines that load the library, then R text and call lines)
// runs every procedure on the shipped sample, and the data frames the calls return equal, value
// for value, the results of the same setups run through ambrel with the same seeds. Failures of a
// procedure stop the R call with the procedure's own message.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace {

using testsupport::read_text;
using testsupport::run_command;
using testsupport::write_text;

// The install root of the build: the folder that holds bin/ and R/, with its trailing "/".
std::string install_root() { return std::filesystem::path(testsupport::bin_dir()).parent_path().string() + "/"; }

// An R program as the XML runner writes it for an R platform element: the two lines that load
// the library from the install root (lines end with CR LF), then the element's text, in which
// each procedure element has become its call line.
std::string r_job_program(const std::string& root, const std::string& body) {
  return "amblib <<- \"" + root + "R\"\r\n" + "source(file.path(amblib, \"init.R\", fsep=.Platform$file.sep))\r\n\r\n" +
         body;
}

// The setups of the job, the same for both routes.
const char* const sample_setup =
    "datain sample.csv;\n"
    "metadata;\n"
    "table;\n"
    "delim csv;\n"
    "id id;\n"
    "variables\n"
    "  name=id label=\"Person number\";\n"
    "  name=stratum; name=psu; name=weight;\n"
    "  name=region label=\"Region of the stratum\" type=char;\n"
    "  name=age; name=income; name=smoker code=yesno;\n"
    "codeframes\n"
    "  name=yesno 0=No 1=Yes;\n"
    "end;\n"
    "run;\n";
const char* const impute_setup =
    "datain sample;\ntransfer region stratum psu weight smoker;\nbounds income (> 0);\nmultiples 3;\n"
    "iterations 5;\nseed 20261208;\ndataout completed all;\nrun;\n";
const char* const synthesize_setup =
    "datain sample;\ntransfer region stratum psu weight smoker;\nsynthesize income;\nimplicates 2;\nseed 77;\n"
    "dataout synthesized all;\nrun;\n";
const char* const describe_setup =
    "datain sample;\nmdata impute;\nbounds income (> 0);\nmultiples 3;\niterations 5;\nseed 20261208;\n"
    "stratum stratum;\ncluster psu;\nweight weight;\ncategorical smoker;\nmean income age;\n"
    "table region smoker;\ncontrast region;\nestout means;\nrun;\n";
const char* const bootdesign_setup =
    "datain sample;\ndataout synth;\nstratum stratum;\ncluster psu;\nweight weight;\nid id;\n"
    "var age income smoker;\ncsamples 2;\nwsamples 2;\npopsize 400;\nseed 20261208;\nrun;\n";
// emitdata on its own statements: the standard dataset as a table.
const char* const export_setup = "datain sample;\ntable sample_out.csv;\ndel \",\";\nrun;\n";

// ambrel's route also exports its standard datasets as tables for the comparison.
const char* const ambrel_job =
    "getdata name=sample;\nimpute name=imp;\nemitdata name=export1;\nsynthesize name=syn;\n"
    "emitdata name=export2;\ndescribe name=d1;\nbootdesign name=boot;\nemitdata name=export3;\n"
    "emitdata name=sampleout;\n";

// The R route: each call line, then the job's own R text that saves what the call returned.
const char* const r_job_body =
    "getdata(name=\"sample\")\r\n"
    "saveRDS(tessary_result(\"sample\"), \"sample.rds\")\r\n"
    "impute(name=\"imp\")\r\n"
    "saveRDS(tessary_result(\"imp\"), \"imp.rds\")\r\n"
    "emitdata(name=\"imp\", dataout=\"second\", mult=2)\r\n"
    "saveRDS(tessary_result(\"imp\"), \"second.rds\")\r\n"
    "emitdata(name=\"imp\", dataout=\"every\", mult=all)\r\n"
    "saveRDS(tessary_result(\"imp\"), \"every.rds\")\r\n"
    "emitdata(name=\"sampleout\")\r\n"
    "saveRDS(tessary_result(\"sampleout\"), \"sampleout.rds\")\r\n"
    "synthesize(name=\"syn\")\r\n"
    "saveRDS(tessary_result(\"syn\"), \"syn.rds\")\r\n"
    "describe(name=\"d1\")\r\n"
    "saveRDS(tessary_result(\"d1\"), \"d1.rds\")\r\n"
    "bootdesign(name=\"boot\")\r\n"
    "saveRDS(tessary_result(\"boot\"), \"boot.rds\")\r\n";

bool have_rscript() { return run_command("Rscript --version > /dev/null 2>&1").exit_code == 0; }

// A folder with the shipped sample and the setups of the job.
void prepare_folder(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(testsupport::source_dir() + "/examples/demo/sample.csv", folder / "sample.csv");
  write_text(folder / "sample.set", sample_setup);
  write_text(folder / "imp.set", impute_setup);
  write_text(folder / "syn.set", synthesize_setup);
  write_text(folder / "d1.set", describe_setup);
  write_text(folder / "boot.set", bootdesign_setup);
  write_text(folder / "sampleout.set", export_setup);
}

// Runs an R program written to `folder`/job.R with Rscript there.
testsupport::RunResult run_r_job(const std::filesystem::path& folder, const std::string& body) {
  write_text(folder / "job.R", r_job_program(install_root(), body));
  return run_command("Rscript job.R", folder.string());
}

// Runs the job through ambrel in `folder` (prepared), exporting its standard datasets as tables
// for the comparison.
void run_ambrel_route(const std::filesystem::path& folder) {
  prepare_folder(folder);
  write_text(folder / "export1.set", "datain completed;\ntable completed.csv;\ndel \",\";\nrun;\n");
  write_text(folder / "export2.set", "datain synthesized;\ntable synthesized.csv;\ndel \",\";\nrun;\n");
  write_text(folder / "export3.set", "datain synth;\ntable synth.csv;\ndel \",\";\nrun;\n");
  write_text(folder / "job.set", ambrel_job);
  const auto driven = run_command(testsupport::bin_dir() + "/ambrel job.set /batch", folder.string());
  ASSERT_EQ(driven.exit_code, 0) << driven.errors;
  ASSERT_EQ(read_text(folder / "job.log").find("Abnormal"), std::string::npos) << read_text(folder / "job.log");
}

// Compares the data frames saved in `dir`/r with the results of the ambrel route in `dir`/ambrel.
void expect_same_results_as_ambrel(const std::filesystem::path& dir) {
  const auto compared = run_command("Rscript " + testsupport::shell_quote(testsupport::source_dir() + "/tests/r/compare_routes.R") +
                                    " ambrel r", dir.string());
  ASSERT_EQ(compared.exit_code, 0) << compared.output << compared.errors;
  for (const char* what : {"getdata", "getdata attributes", "impute", "emitdata mult=2", "emitdata mult=all",
                           "emitdata own statements", "synthesize", "bootdesign", "describe"}) {
    EXPECT_NE(compared.output.find(std::string("same: ") + what + " \n"), std::string::npos) << what << "\n" << compared.output;
  }
  EXPECT_EQ(compared.output.find("DIFFERENT"), std::string::npos) << compared.output;
  // Each call also wrote its results where its setup says.
  for (const char* file : {"sample.rda", "completed.rda", "second.rda", "synthesized.rda", "means.rda", "synth.rda"})
    EXPECT_TRUE(std::filesystem::exists(dir / "r" / file)) << file;
}

// The same job as one XML setup for the runner: an R platform element whose text saves what each
// call returned; getdata, impute and describe carry their statements, the rest name setups
// already in the folder.
std::string xml_job() {
  return std::string("<R>\n") +
         "<getdata name=\"sample\">\n" + sample_setup + "</getdata>\n"
         "saveRDS(tessary_result(\"sample\"), \"sample.rds\")\n"
         "<impute name=\"imp\">\n" + impute_setup + "</impute>\n"
         "saveRDS(tessary_result(\"imp\"), \"imp.rds\")\n"
         "<emitdata name=\"imp\" dataout=\"second\" mult=\"2\"/>\n"
         "saveRDS(tessary_result(\"imp\"), \"second.rds\")\n"
         "<emitdata name=\"imp\" dataout=\"every\" mult=\"all\"/>\n"
         "saveRDS(tessary_result(\"imp\"), \"every.rds\")\n"
         "<emitdata name=\"sampleout\"/>\n"
         "saveRDS(tessary_result(\"sampleout\"), \"sampleout.rds\")\n"
         "<synthesize name=\"syn\"/>\n"
         "saveRDS(tessary_result(\"syn\"), \"syn.rds\")\n"
         "<describe name=\"d1\">\n" + describe_setup + "</describe>\n"
         "saveRDS(tessary_result(\"d1\"), \"d1.rds\")\n"
         "<bootdesign name=\"boot\"/>\n"
         "saveRDS(tessary_result(\"boot\"), \"boot.rds\")\n"
         "</R>\n";
}

}  // namespace

TEST(r_library, every_call_returns_what_the_ambrel_route_writes_for_the_same_setups) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  testsupport::TempDir dir;
  run_ambrel_route(dir.path() / "ambrel");
  prepare_folder(dir.path() / "r");
  const auto job = run_r_job(dir.path() / "r", r_job_body);
  ASSERT_EQ(job.exit_code, 0) << job.output << job.errors;
  expect_same_results_as_ambrel(dir.path());
}

TEST(r_library, an_xml_job_run_by_ambrex_returns_what_the_ambrel_route_writes) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  testsupport::TempDir dir;
  run_ambrel_route(dir.path() / "ambrel");
  const std::filesystem::path r = dir.path() / "r";
  prepare_folder(r);
  // The runner writes these from the XML elements.
  for (const char* written : {"sample.set", "imp.set", "d1.set"}) std::filesystem::remove(r / written);
  write_text(r / "job.xml", xml_job());
  const auto job = run_command(testsupport::bin_dir() + "/ambrex job /batch", r.string());
  ASSERT_EQ(job.exit_code, 0) << job.output << job.errors << read_text(r / "job.log");
  EXPECT_EQ(read_text(r / "imp.set"), std::string(impute_setup));
  EXPECT_EQ(read_text(r / "d1.set"), std::string(describe_setup));
  expect_same_results_as_ambrel(dir.path());
}

TEST(r_library, a_failing_procedure_stops_the_call_with_its_error_text) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  testsupport::TempDir dir;
  prepare_folder(dir.path());
  // The checker refuses the first setup; the second passes it and describe itself stops.
  write_text(dir.file("unknown.set"), "datain sample;\nmean nosuch;\nrun;\n");
  write_text(dir.file("missing.set"), "datain sample;\nstratum stratum;\ncluster psu;\nmean income;\nmdata stop;\nrun;\n");
  const auto job = run_r_job(dir.path(),
                             "getdata(name=\"sample\", mode=\"batch\")\n"
                             "said <- function(call) tryCatch({ call; \"no error\" }, error = conditionMessage)\n"
                             "writeLines(c(said(describe(name=\"unknown\")),\n"
                             "             said(describe(name=\"missing\", mode=\"batch\")),\n"
                             "             said(regress(name=\"missing\")),\n"
                             "             said(impute(name=\"imp\", mult=0)),\n"
                             "             said(impute(name=\"nosuch\"))), \"said.txt\")\n");
  ASSERT_EQ(job.exit_code, 0) << job.output << job.errors;
  const std::string said = read_text(dir.file("said.txt"));
  EXPECT_NE(said.find("Error: Variable nosuch missing [tesset, log " + dir.file("unknown.log") + "]\n"), std::string::npos) << said;
  EXPECT_NE(said.find("Error: Missing data [describe, log " + dir.file("missing.log") + "]\n"), std::string::npos) << said;
  EXPECT_NE(said.find("regress() is not available in R: the suite has no regression program"), std::string::npos) << said;
  EXPECT_NE(said.find("mult must be a positive whole number, all or con...\n"), std::string::npos) << said;
  EXPECT_NE(said.find("Can't find setup file " + dir.file("nosuch.set") + "\n"), std::string::npos) << said;
  // The procedures' own logs end with the same lines.
  EXPECT_NE(read_text(dir.file("missing.log")).find("\nError: Missing data\n"), std::string::npos);
}

TEST(r_library, a_session_data_frame_is_described_to_the_checker_with_its_factors_and_labels) {
  ASSERT_TRUE(have_rscript()) << "Rscript is needed: scripts/install-deps.sh installs it";
  testsupport::TempDir dir;
  // DATAIN names a data frame of the session, not a file; mode debug keeps the metadata file.
  write_text(dir.file("s.set"), "datain people;\ncategorical sex;\ntransfer town;\nseed 5;\ndataout filled;\nrun;\n");
  const auto job = run_r_job(dir.path(),
                             "people <- data.frame(y = c(1.5, NA, 3, 4, 5, 6.25, 7, 8),\n"
                             "                     sex = factor(c(\"m\", \"f\", \"f\", NA, \"m\", \"f\", \"m\", \"f\")),\n"
                             "                     town = c(\"A b\", \"C\", NA, \"D\", \"E\", \"F\", \"G\", \"H\"),\n"
                             "                     stringsAsFactors = FALSE)\n"
                             "attr(people$y, \"label\") <- 'Spend, \"net\"'\n"
                             "filled <- impute(name=\"s\", mode=\"debug\")\n"
                             "writeLines(c(nrow(filled), sum(is.na(filled$y)), sum(is.na(filled$sex)),\n"
                             "             levels(filled$sex), filled$town[1]), \"filled.txt\")\n");
  ASSERT_EQ(job.exit_code, 0) << job.output << job.errors;
  EXPECT_EQ(read_text(dir.file("s.met")),
            "standard;\nvariables\n"
            "  name=y type=float width=8 label=\"Spend, \"\"net\"\"\";\n"
            "  name=sex type=float width=8 code=sex;\n"
            "  name=town type=char width=8;\n"
            "codeframes\n"
            "  name=sex 1=f 2=m;\n");
  EXPECT_TRUE(std::filesystem::exists(dir.file("people.rda")));
  // Every value imputed; the codes of sex come back as the levels of its codeframe.
  EXPECT_EQ(read_text(dir.file("filled.txt")), "8\n0\n0\n1\n2\nA b\n");
}
