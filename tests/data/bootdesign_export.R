# Exports the apistrat and apiclus1 samples of R's survey package for the statistical check of
# bootdesign (scripts/bootdesign_check.sh), with the survey package's design-based mean and
# variance of the mean of api00 under each design.
# Usage: Rscript tests/data/bootdesign_export.R OUTPUT_DIR
suppressMessages(library(survey))
data(api)
out <- commandArgs(trailingOnly = TRUE)[1]

strat <- data.frame(snum = apistrat$snum, stratum = as.integer(apistrat$stype),
                    pw = apistrat$pw, api00 = apistrat$api00)
write.csv(strat, file.path(out, "apistrat.csv"), row.names = FALSE)
clus <- data.frame(snum = apiclus1$snum, dnum = apiclus1$dnum, pw = apiclus1$pw, api00 = apiclus1$api00)
write.csv(clus, file.path(out, "apiclus1.csv"), row.names = FALSE)

# Without the finite population correction: the bootstrap resamples with replacement.
designs <- list(
  apistrat = svydesign(id = ~1, strata = ~stype, weights = ~pw, data = apistrat),
  apiclus1 = svydesign(id = ~dnum, weights = ~pw, data = apiclus1))
lines <- vapply(names(designs), function(name) {
  m <- svymean(~api00, designs[[name]])
  sprintf("%s %.10g %.10g", name, coef(m), vcov(m)[1, 1])
}, character(1))
writeLines(lines, file.path(out, "reference.txt"))
