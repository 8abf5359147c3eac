# Exports the apistrat and apiclus1 samples of R's survey package for the describe tests, with
# the survey package's design-based means, proportions, standard errors and design degrees of
# freedom, and mitools' combining of five imputations of one mean.
# Usage: Rscript tests/data/describe_export.R OUTPUT_DIR
suppressMessages({
  library(survey)
  library(mitools)
})
data(api)
out <- commandArgs(trailingOnly = TRUE)[1]
ref <- character()
put <- function(key, value) ref <<- c(ref, sprintf("%s %.17g", key, value))

# Categories as numbers: stype 1 E, 2 H, 3 M; awards 1 No, 2 Yes.
strat <- data.frame(stype = as.integer(apistrat$stype), pw = apistrat$pw, api00 = apistrat$api00,
                    enroll = apistrat$enroll, awards = as.integer(apistrat$awards))
strat <- strat[order(strat$stype), ]
write.csv(strat, file.path(out, "apistrat.csv"), row.names = FALSE)
clus <- data.frame(dnum = apiclus1$dnum, pw = apiclus1$pw, api00 = apiclus1$api00,
                   stype = as.integer(apiclus1$stype))
clus <- clus[order(clus$dnum), ]
write.csv(clus, file.path(out, "apiclus1.csv"), row.names = FALSE)

report <- function(prefix, design, factor) {
  m <- svymean(~api00, design)
  put(paste0(prefix, ".mean"), coef(m))
  put(paste0(prefix, ".mean_se"), SE(m))
  p <- svymean(factor, design)
  for (k in seq_along(coef(p))) {
    put(sprintf("%s.prop%d", prefix, k), coef(p)[k])
    put(sprintf("%s.prop%d_se", prefix, k), SE(p)[k])
  }
  put(paste0(prefix, ".df"), degf(design))
}
sd <- svydesign(id = ~1, strata = ~stype, weights = ~pw, data = strat)
report("strat", sd, ~factor(awards))
cd <- svydesign(id = ~dnum, weights = ~pw, data = clus)
report("clus", cd, ~factor(stype))

# The domain awards == Yes of apistrat as a design of its own (every stratum keeps >= 2 units).
yes <- strat[strat$awards == 2, ]
yd <- svydesign(id = ~1, strata = ~stype, weights = ~pw, data = yes)
m <- svymean(~api00, yd)
put("domain.mean", coef(m))
put("domain.mean_se", SE(m))
put("domain.df", degf(yd))

# Five imputations of api00 in apistrat (deterministic shifts of a varying size), combined.
imps <- lapply(1:5, function(j) {
  d <- strat
  d$api00 <- d$api00 + ((seq_len(nrow(d)) * (j + 2)) %% 7 - 3) * 6
  d
})
for (j in 1:5) write.csv(imps[[j]], file.path(out, sprintf("imp%d.csv", j)), row.names = FALSE)
fits <- lapply(imps, function(d) svymean(~api00, svydesign(id = ~1, strata = ~stype, weights = ~pw, data = d)))
mi <- MIcombine(fits)
put("mi.mean", coef(mi))
put("mi.var", vcov(mi)[1, 1])
put("mi.df", mi$df)
put("mi.missinfo", mi$missinfo)
writeLines(ref, file.path(out, "reference.txt"))
