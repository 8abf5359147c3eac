# Compares the results of the same setups run by the two routes: the data frames that the R
# library's calls returned (saved with saveRDS in the R folder) against the tables and the
# estimates file that ambrel's run wrote (in the ambrel folder). Prints one line per result,
# "same: WHAT" or "DIFFERENT: WHAT (why)".
# Usage: Rscript compare_routes.R AMBREL_FOLDER R_FOLDER

args <- commandArgs(trailingOnly = TRUE)
ambrel_file <- function(name) file.path(args[1], name)
r_result <- function(name) readRDS(file.path(args[2], paste0(name, ".rds")))

report <- function(what, problem) {
  if (is.null(problem)) cat("same:", what, "\n") else cat("DIFFERENT:", what, "(", problem, ")\n")
}

# Why two columns differ, or NULL. Tables hold numbers with 12 significant digits.
column_difference <- function(a, b) {
  if (length(a) != length(b)) return(sprintf("%d values against %d", length(a), length(b)))
  if (is.character(b)) {
    same <- (is.na(a) & is.na(b)) | (!is.na(a) & !is.na(b) & as.character(a) == b)
  } else {
    a <- as.numeric(a)
    same <- (is.na(a) & is.na(b)) | (!is.na(a) & !is.na(b) & abs(a - b) <= 1e-11 * pmax(abs(b), 1e-300))
  }
  same[is.na(same)] <- FALSE
  if (all(same)) return(NULL)
  k <- which(!same)[1]
  sprintf("row %d: %s against %s", k, format(a[k], digits = 17), format(b[k], digits = 17))
}

# A table that ambrel's run wrote, rows in the order of `keys`.
ambrel_table <- function(name, keys) {
  t <- read.csv(ambrel_file(name), check.names = FALSE, stringsAsFactors = FALSE, na.strings = "")
  t[do.call(order, unname(as.list(t[keys]))), , drop = FALSE]
}

# Compares the columns `pairs` (R name = table name) of a data frame with a table, both ordered
# by their key columns.
compare_table <- function(what, frame, table, pairs) {
  frame <- frame[do.call(order, unname(as.list(frame[names(pairs)[seq_len(2)]]))), , drop = FALSE]
  problem <- if (nrow(frame) != nrow(table)) sprintf("%d rows against %d", nrow(frame), nrow(table))
  for (name in names(pairs)) {
    if (!is.null(problem)) break
    why <- column_difference(frame[[name]], table[[pairs[[name]]]])
    if (!is.null(why)) problem <- paste(name, why)
  }
  report(what, problem)
}

sample_columns <- c(id = "id", stratum = "stratum", psu = "psu", weight = "weight", region = "region",
                    age = "age", income = "income", smoker = "smoker")
by_multiple <- c(MULT_ = "_MULT_", sample_columns)

# getdata: the dataset with its labels, codeframe and ID variable.
sample <- r_result("sample")
compare_table("getdata", sample, ambrel_table("sample_out.csv", "id"), sample_columns)
report("getdata attributes",
       if (!identical(attr(sample, "id"), "id")) "no id attribute"
       else if (!identical(attr(sample$smoker, "labels"), c(No = 0, Yes = 1))) "smoker's codeframe"
       else if (!identical(attr(sample$region, "label"), "Region of the stratum")) "region's label")

# impute and the exports of its completed data.
completed <- ambrel_table("completed.csv", c("_MULT_", "id"))
compare_table("impute", r_result("imp"), completed, c(MULT_ = "_MULT_", sample_columns))
compare_table("emitdata mult=2", r_result("second"), completed[completed[["_MULT_"]] == 2, ], sample_columns)
compare_table("emitdata mult=all", r_result("every"), completed, by_multiple)
compare_table("emitdata own statements", r_result("sampleout"), ambrel_table("sample_out.csv", "id"), sample_columns)

# synthesize: every implicate.
compare_table("synthesize", r_result("syn"), ambrel_table("synthesized.csv", c("_IMPL_", "id")),
              c(IMPL_ = "_IMPL_", sample_columns))

# bootdesign: the synthetic populations, row for row within each implicate.
compare_table("bootdesign", r_result("boot"), ambrel_table("synth.csv", c("_IMPL_", "id")),
              c(IMPL_ = "_IMPL_", id = "id", stratum = "stratum", psu = "psu", weight = "weight",
                age = "age", income = "income", smoker = "smoker"))

# describe: the estimates file of ambrel's run, read with the columns of the returned estimates.
estimates <- r_result("d1")
est_path <- ambrel_file("d1.est")
record <- 8 * ncol(estimates)
bytes <- matrix(readBin(est_path, raw(), file.size(est_path)), nrow = record)
problem <- if (ncol(bytes) != nrow(estimates)) sprintf("%d records against %d", nrow(estimates), ncol(bytes))
for (k in seq_len(ncol(estimates))) {
  if (!is.null(problem)) break
  field <- bytes[(8 * k - 7):(8 * k), , drop = FALSE]
  expected <- if (is.character(estimates[[k]])) apply(field, 2, rawToChar)
              else readBin(as.vector(field), double(), ncol(field), endian = "little")
  if (!identical(unname(estimates[[k]]), expected)) problem <- paste("column", names(estimates)[k])
}
report("describe", problem)
