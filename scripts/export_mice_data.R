# Writes the nhanes and boys data sets of R's mice package as CSV tables (NA for missing values,
# factors as their integer codes), for the real-data check of impute (scripts/mice_real_data.sh).
# Usage: Rscript scripts/export_mice_data.R OUTPUT_DIR
suppressMessages(library(mice))
out <- commandArgs(TRUE)[1]
as_codes <- function(d) {
  for (v in names(d)) if (is.factor(d[[v]])) d[[v]] <- as.integer(d[[v]])
  d
}
write.csv(as_codes(nhanes), file.path(out, "nhanes.csv"), row.names = FALSE, na = "NA")
write.csv(as_codes(boys), file.path(out, "boys.csv"), row.names = FALSE, na = "NA")
