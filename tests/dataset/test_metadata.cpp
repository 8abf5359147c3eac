// Metadata reader and writer: round trips over many dataset shapes, the defaults and inheritance
// rules, and the errors that stop a run.
#include <cstring>
#include <string>
#include <vector>

#include "dataset/text_util.h"
#include "tests/dataset/dataset_test_util.h"

// Identity of this test binary, so that the frame's banner resolves it before the default one.
extern const char program_title[] = "Dataset library tests";
bool new_log = true;

using dstest::expect_metadata_error;
using dstest::read_metadata_text;
using testsupport::TempDir;

namespace {

// Compares every field of two dataset descriptions.
void expect_same_meta(const DatasetMeta& a, const DatasetMeta& b) {
  EXPECT_EQ(a.nvar, b.nvar);
  EXPECT_EQ(a.names, b.names);
  EXPECT_EQ(a.labels, b.labels);
  EXPECT_EQ(a.type, b.type);
  EXPECT_EQ(a.location, b.location);
  EXPECT_EQ(a.width, b.width);
  EXPECT_EQ(a.decimals, b.decimals);
  EXPECT_EQ(a.missing_index, b.missing_index);
  EXPECT_EQ(a.missing_count, b.missing_count);
  EXPECT_EQ(a.missing_pool, b.missing_pool);
  EXPECT_EQ(a.standard, b.standard);
  EXPECT_EQ(a.table, b.table);
  EXPECT_EQ(a.delimiters, b.delimiters);
  EXPECT_EQ(a.declared_reclen, b.declared_reclen);
  EXPECT_EQ(a.reclen, b.reclen);
  EXPECT_EQ(a.skip, b.skip);
  EXPECT_EQ(a.id_var, b.id_var);
  EXPECT_EQ(a.mult_var, b.mult_var);
  EXPECT_EQ(a.frame_of_var, b.frame_of_var);
  EXPECT_EQ(a.nframes, b.nframes);
  EXPECT_EQ(a.frame_names, b.frame_names);
  EXPECT_EQ(a.frame_end, b.frame_end);
  EXPECT_EQ(a.ncodes, b.ncodes);
  EXPECT_EQ(a.codes, b.codes);
  EXPECT_EQ(a.code_labels, b.code_labels);
}

// Text of the metadata writer for `meta`.
std::string written_text(const TempDir& dir, const DatasetMeta& meta) {
  write_metadata(dir.file("written.met").c_str(), meta);
  return testsupport::read_text(dir.file("written.met"));
}

// Double stored in code slot `c` of `dataset`.
double numeric_code(const DatasetMeta& dataset, int c) {
  double value = 0;
  std::memcpy(&value, &dataset.codes[static_cast<std::size_t>(c) * code_field], sizeof value);
  return value;
}

// Dataset shapes for the round trip: each is read, written, read again and compared.
const char* const round_trip_shapes[] = {
    // Fixed text records: numeric and character, decimals, labels with blanks and quotes.
    "standard;\nreclen 40;\nvariables\n"
    "  name=id type=num width=6;\n"
    "  name=income label=\"Household income, \"\"net\"\"\" width=9 dec=2;\n"
    "  name=region label='It''s the region' type=char width=3;\n"
    "  name=town label=\"a  b\" width=12;\n",
    // Binary fields of every width, with gaps, a type change on equal width and inherited widths.
    "standard;\nvariables\n"
    "  name=b1 type=int width=1; name=b2 width=2; name=b4 type=int width=4 loc=10;\n"
    "  name=f4 type=float width=4; name=f8 width=8; name=f8b; name=n3 type=num width=3;\n"
    "  name=c3 type=char width=3; name=n3b type=num width=3 dec=1;\n",
    // Missing-data texts: inherited by type, switched, stopped, with blanks and commas.
    "standard;\nvariables\n"
    "  name=a miss=-9; name=b; name=c miss=\"no answer, refused\"; name=d type=char miss='  ';\n"
    "  name=e; name=f type=num; name=g miss=-9; name=h miss=\"\"; name=i;\n",
    // Delimited files: default delimiters, id, mult and decimals.
    "standard;\ndelim;\nid key;\nmult imp;\nvariables\n"
    "  name=imp; name=key type=char; name=x type=num dec=3 miss=.; name=y;\n",
    "table;\nstandard;\ndelim \"\\t;\";\nvariables name=a type=char; name=b type=num;\n",
    "delim csv;\nvariables name=a; name=b type=char label=\"x=y\";\n",
    // Skip and a declared record length longer than the fields.
    "skip 3;\nreclen 100;\nvariables name=a width=10; name=b loc=50 width=2;\n",
    // Codeframes: shared, distinct, numeric and character, unused, odd codes and labels.
    "standard;\nvariables\n"
    "  name=sex code=sexes; name=sex2 code=SEXES; name=agegrp code=ages width=2;\n"
    "  name=none; name=state type=char width=2 code=states; name=st2 code=states;\n"
    "  name=big type=num code=bigs;\n"
    "codeframes\n"
    "  name=sexes 1=Male 2=Female;\n"
    "  name=ages 1=\"under 20\", 2='20 to 64' 3=\"65, and \"\"more\"\"\";\n"
    "  name=unused 9=Nothing;\n"
    "  name=states NY=\"New York\" CA=California LONGCODE12=Cut .X=Dropped;\n"
    "  name=bigs 1234567.125=\"a\" -0.5=b 1e300=\"\" 3 three;\n",
};

TEST(metadata, round_trip_over_dataset_shapes) {
  for (const char* shape : round_trip_shapes) {
    SCOPED_TRACE(shape);
    TempDir dir;
    DatasetMeta dataset = read_metadata_text(dir, shape);
    DatasetMeta first = dataset;
    std::string text = written_text(dir, first);
    SCOPED_TRACE(text);
    dataset = read_metadata_text(dir, text, "again.met");
    expect_same_meta(first, dataset);
    // Writing the re-read description gives the same text again.
    EXPECT_EQ(written_text(dir, dataset), text);
  }
}

TEST(metadata, round_trip_keeps_codeframe_links_and_kinds) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, round_trip_shapes[7]);
  // The unused frame is dropped and the rest renumbered in order.
  ASSERT_EQ(dataset.nframes, 4);
  EXPECT_EQ(dataset.frame_name(0), "sexes");
  EXPECT_EQ(dataset.frame_name(1), "ages");
  EXPECT_EQ(dataset.frame_name(2), "states");
  EXPECT_EQ(dataset.frame_of_var, (std::vector<std::int16_t>{0, 0, 1, -1, 2, 2, 3}));
  EXPECT_EQ(dataset.frame_end, (std::vector<std::int32_t>{2, 5, 8, 12}));
  EXPECT_EQ(numeric_code(dataset, 0), 1.0);
  EXPECT_EQ(numeric_code(dataset, 1), 2.0);
  EXPECT_EQ(dataset.code_labels[4], "65, and \"more\"");
  EXPECT_EQ(std::string(&dataset.codes[5 * code_field], code_field), "NY      ");
  EXPECT_EQ(std::string(&dataset.codes[7 * code_field], code_field), "LONGCODE");
  EXPECT_EQ(numeric_code(dataset, 8), 1234567.125);
  EXPECT_EQ(numeric_code(dataset, 10), 1e300);
  EXPECT_EQ(dataset.code_labels[11], "three");
}

TEST(metadata, fixed_records_inherit_type_width_and_location) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, "variables name=a type=int width=2;\n name=b;\n");
  EXPECT_EQ(dataset.type[1], 'I');
  EXPECT_EQ(dataset.width[1], 2);
  EXPECT_EQ(dataset.location[1], 2);
  EXPECT_EQ(dataset.declared_reclen, 4);  // computed, because binary fields exist
  dataset = read_metadata_text(dir, "variables name=a; name=b type=char; name=c type=float; name=d type=num;");
  EXPECT_EQ(dataset.type, (std::vector<std::int16_t>{'N', 'C', 'F', 'N'}));
  EXPECT_EQ(dataset.width, (std::vector<std::int16_t>{1, 1, 8, 1}));
  EXPECT_EQ(dataset.location, (std::vector<std::int32_t>{0, 1, 2, 10}));
  EXPECT_EQ(dataset.reclen, 11);
  EXPECT_EQ(dataset.declared_reclen, 11);
  dataset = read_metadata_text(dir, "variables name=a width=5; name=b;");
  EXPECT_EQ(dataset.declared_reclen, 0);  // text fields only: no declared length
  EXPECT_EQ(dataset.reclen, 10);
}

TEST(metadata, delimiter_statement_forms) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, "delim;\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, "\t, ");
  dataset = read_metadata_text(dir, "delim '\\t';\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, "\t");
  dataset = read_metadata_text(dir, "delimiters CSV;\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, ",");
  dataset = read_metadata_text(dir, "delim \"csv\";\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, "csv");
  dataset = read_metadata_text(dir, "delim Tab;\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, "\t");
  // Unquoted delimiters that the value reader would take for separators.
  dataset = read_metadata_text(dir, "delim ,;\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, ",");
  dataset = read_metadata_text(dir, "delim \\t,|;\nvariables name=a;");
  EXPECT_EQ(*dataset.delimiters, "\t,|");
  dataset = read_metadata_text(dir, "delim;\nvariables name=a type=char; name=b dec=2; name=c type=num dec=2;");
  EXPECT_EQ(dataset.location, (std::vector<std::int32_t>{0, 1, 2}));
  EXPECT_EQ(dataset.width, (std::vector<std::int16_t>{0, 0, 0}));
  EXPECT_EQ(dataset.decimals, (std::vector<std::int16_t>{0, 0, 2}));
}

TEST(metadata, missing_values_inherit_within_a_type) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, "variables name=a miss=-9; name=b; name=c; name=d type=char; name=e;");
  EXPECT_EQ(dataset.missing_index, (std::vector<std::int32_t>{0, 0, 0, -1, -1}));
  EXPECT_EQ(dataset.missing_pool, (std::vector<std::string>{"-9"}));
  dataset = read_metadata_text(dir, "variables name=a; name=b;");
  EXPECT_TRUE(dataset.missing_index.empty());
  EXPECT_EQ(dataset.missing_count, 0);
}

TEST(metadata, id_and_mult_resolve_and_intercept_means_none) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, "id INTERCPT;\nmult M;\nvariables name=x; name=m;");
  EXPECT_EQ(dataset.id_var, -1);
  EXPECT_EQ(dataset.mult_var, 1);
  dataset = read_metadata_text(dir, "id x;\nvariables name=x; name=m;");
  EXPECT_EQ(dataset.id_var, 0);
  EXPECT_EQ(dataset.mult_var, -1);
}

TEST(metadata, codeframe_of_character_variables_keeps_text_codes) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, "variables name=s type=char width=2 code=st;\ncodeframes name=st a=x, b = y;");
  ASSERT_EQ(dataset.ncodes, 2);
  EXPECT_EQ(std::string(&dataset.codes[0], 8), "a       ");
  EXPECT_EQ(dataset.code_labels[1], "y");
  EXPECT_TRUE(dataset.frame_is_char(0));
}

TEST(metadata, statement_errors_stop_the_run) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"delim;\nvariables name=a loc=2;", "Delimited variable a has location"},
      {"delim;\nvariables name=a width=2;", "Delimited variable a has width"},
      {"delim;\nvariables name=a; name=b type=int;", "Delimited variable b is binary"},
      {"reclen 10;\nvariables name=a loc=10 width=4;", "Specified record length too short"},
      {"reclen 10;\ndelim;", "Record length and delimiters statements"},
      {"delim;\nreclen 10;", "Delimiters and record length statements"},
      {"table;\nskip 1;", "Table and skip statements"},
      {"reclen 0;", "Invalid record length"},
      {"reclen;", "Missing record length"},
      {"skip -1;", "SKIP negative"},
      {"skip;", "SKIP value missing"},
      {"skip 1;\nskip 2;", "Repeated SKIP statement"},
      {"delim;\ndelim csv;", "Repeated delimiters statement"},
      {"table;\nreclen 5;", "Table and record length statements"},
      {"reclen 5;\ntable;", "Record length and table statements"},
      {"reclen 5;\nrecl 6;", "Repeated record length statement"},
      {"table;\ntables;", "Repeated table statement"},
      {"standard;\nstandard;", "Repeated standard statement"},
      {"id a;\nid b;", "Repeated ID keyword"},
      {"mult a;\nmult b;", "Repeated multiple keyword"},
      {"mult \"\";", "Missing multiple variable name"},
      {"variables name=a code=f;\ncodeframes name=\"\" 1=a;", "Missing codeframe name"},
      {"variables name=a; name=A;", "Duplicate variable A"},
      {"variables name=a type=int width=3;", "Type and width inconsistent for variable a"},
      {"variables name=a type=float; name=b width=2;", "Type and width inconsistent for variable b"},
      {"variables name=a type=x;", "Variable type not recognized"},
      {"variables name=a loc=0;", "Variable location out of range"},
      {"variables name=a width=0;", "Variable width nonpositive"},
      {"variables name=a dec=21;", "Variable decimals value error"},
      {"variables name=a dec=x;", "Variable decimals value error"},
      {"variables name=a miss=;", "Missing variable missing data value"},
      {"variables name=a color=red;", "Keyword color not recognized"},
      {"variables label=x;", "Missing variable name"},
      {"variables name=a name=b;", "Repeated variable name keyword"},
      {"bogus;", "Keyword bogus not recognized"},
      {"standard;", "No variable statements"},
      {"id y;\nvariables name=a;", "Variable y missing"},
      {"variables name=a code=f;\ncodeframes name=f 1a=One;", "Invalid code for frame f"},
      {"variables name=a code=f;\ncodeframes name=f nan=One;", "Invalid code for frame f"},
      {"variables name=a code=f;\ncodeframes name=f 1;", "Missing code label"},
      {"variables name=a code=f;\ncodeframes name=f 1=a,;", "Missing code value"},
      {"variables name=a code=f;\ncodeframes name=f =x;", "Missing code value"},
      {"variables name=a code=f;\ncodeframes name=f .1=a;", "Missing code values"},
      {"variables name=a code=f;\ncodeframes name=f 1=a; name=F 2=b;", "Duplicate codeframe F"},
      {"variables name=a code=f;\ncodeframes label=f 1=a;", "Keyword label not recognized"},
      {"variables name=a code=f;", "Missing variable codeframe: f"},
      {"variables name=a code=g;\ncodeframes name=f 1=a;", "Missing variable codeframe: g"},
      {"variables name=a code=f; name=b type=char code=f;\ncodeframes name=f 1=Male 2=Female;",
       "Frame f and variable b have inconsistent types"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    expect_metadata_error(c.text, c.message);
  }
}

TEST(metadata, open_dataset_requires_standard_and_sets_flag_words_and_data_path) {
  TempDir dir;
  testsupport::write_text(dir.file("d.met"), "standard;\nvariables name=a type=char; name=b type=num;\n");
  EXPECT_EXIT(
      {
        dstest::start_in(dir);
        Dataset opened = open_dataset(dataset_metadata_path("d"));
        bool ok = dataset_metadata_path("d.MET") == dir.file("d.met") && opened.meta.nvar == 2 &&
                  opened.meta.type[0] == char_type_flag &&
                  opened.meta.type[1] == 0 && opened.meta.is_char(0) && !opened.meta.is_char(1) &&
                  opened.data_path == dir.file("d.dat");
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  dstest::expect_error(
      [](const TempDir& d) {
        testsupport::write_text(d.file("plain.met"), "variables name=a;\n");
        open_dataset(d.file("plain.met"));
      },
      "Not a standard Ambrel dataset; run Emitdata first");
  dstest::expect_error([](const TempDir& d) { open_dataset(d.file("nothere.met")); },
                       [](const TempDir& d) {
                         return "Can't open metadata input file: " + d.file("nothere.met");
                       });
}

TEST(metadata, dataset_name_drops_only_a_trailing_metadata_extension) {
  EXPECT_EQ(dataset_name("survey.met"), "survey");
  EXPECT_EQ(dataset_name("data/survey.Met"), "data/survey");
  EXPECT_EQ(dataset_name("survey.met.met"), "survey.met");
  for (const char* kept : {"survey", "survey.dat", "survey.metx", "survey_met", "met.d/survey", "met"})
    EXPECT_EQ(dataset_name(kept), kept);
}

TEST(text_util, utf8_prefix_never_ends_inside_a_character) {
  const std::string text = "ab\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a b e-acute euro-sign emoji z
  const std::size_t whole[] = {0, 1, 2, 2, 4, 4, 4, 7, 7, 7, 7, 11, 12, 12};
  for (std::size_t limit = 0; limit < std::size(whole); ++limit)
    EXPECT_EQ(utf8_prefix_length(text, limit), whole[limit]) << limit;
  // Bytes of a single-byte code page, and stray continuation bytes, are cut where asked.
  EXPECT_EQ(utf8_prefix_length("caf\xE9s", 4), 4u);
  EXPECT_EQ(utf8_prefix_length("\x80\x80\x80\x80\x80", 3), 3u);
}

// In a child: starts the frame on job.set in `dir` with a host switch, opens the dataset of the
// metadata file beside the setup and exits with 0 when `check` holds for it.
[[noreturn]] void open_host_dataset(const TempDir& dir, const char* host, bool (*check)(const DatasetMeta&)) {
  std::string setup = dir.file("job.set");
  testsupport::write_text(setup, "run;\n");
  char program[] = "dataset_test";
  char batch[] = "/BATCH";
  std::string host_switch = host;
  char* argv[] = {program, setup.data(), host_switch.data(), batch, nullptr};
  start_procedure(4, argv);
  open_log();
  Dataset opened = open_dataset(companion_path(".met"));
  std::exit(check(opened.meta) ? 0 : 1);
}

TEST(metadata, unknown_codeframe_is_dropped_under_sas_only) {
  TempDir dir;
  testsupport::write_text(dir.file("job.met"),
                          "standard;\nvariables name=a code=f; name=b type=char code=gone;\n"
                          "codeframes name=f 1=x;\n");
  // Under SAS an unknown codeframe leaves the variable without one.
  auto sas_result = [](const DatasetMeta& meta) {
    return meta.nvar == 2 && meta.frame_of_var == std::vector<std::int16_t>{0, -1} &&
           meta.type == std::vector<std::int16_t>{0, char_type_flag};
  };
  EXPECT_EXIT(open_host_dataset(dir, "/SAS", sas_result), ::testing::ExitedWithCode(0), "");
  // Other hosts stop on it.
  EXPECT_EXIT(open_host_dataset(dir, "/R", [](const DatasetMeta&) { return true; }),
              ::testing::ExitedWithCode(3), "");
  EXPECT_NE(testsupport::read_text(dir.file("job.log")).find("Error: Missing variable codeframe: gone\n"),
            std::string::npos);
}

TEST(metadata, writer_refuses_texts_that_cannot_be_read_back) {
  dstest::expect_error(
      [](const TempDir& d) {
        DatasetMeta dataset = read_metadata_text(d, "variables name=a label=x;");
        store_field(&dataset.labels[0], "see /* here", label_field);
        write_metadata(d.file("out.met").c_str(), dataset);
      },
      "Label of a cannot be written to a metadata file");
  // Character codes that statement assembly would end early, run on, or split.
  for (std::string code : {"a;b", "O'Neil", "ab\"", "a\tb"}) {
    SCOPED_TRACE(code);
    dstest::expect_error(
        [code](const TempDir& d) {
          DatasetMeta dataset = read_metadata_text(d, "variables name=s type=char code=f;\ncodeframes name=f x=1;");
          std::string field = code + std::string(code_field - code.size(), ' ');
          std::memcpy(&dataset.codes[0], field.data(), code_field);
          write_metadata(d.file("out.met").c_str(), dataset);
        },
        "Code '" + code + "' of codeframe f cannot be written to a metadata file");
  }
  // A frame too long for the reader's statement buffer.
  dstest::expect_error(
      [](const TempDir& d) {
        std::string frame = "variables name=a code=big;\ncodeframes name=big";
        for (int c = 0; c < 400; ++c) frame += "\n " + std::to_string(c) + "=x";
        DatasetMeta dataset = read_metadata_text(d, frame + ";\n");
        for (std::string& label : dataset.code_labels) label.assign(label_field, 'y');
        write_metadata(d.file("out.met").c_str(), dataset);
      },
      "Codeframe big is too long for a metadata file");
}

TEST(metadata, character_codes_with_paired_quotes_read_back) {
  TempDir dir;
  DatasetMeta dataset = read_metadata_text(dir, "variables name=s type=char code=f;\ncodeframes name=f \"ab\"=x a'b'c=\"y z\";");
  DatasetMeta first = dataset;
  dataset = read_metadata_text(dir, written_text(dir, first), "again.met");
  expect_same_meta(first, dataset);
  EXPECT_EQ(std::string(&dataset.codes[code_field], code_field), "a'b'c   ");
}

}  // namespace
