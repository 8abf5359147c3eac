# Makes examples/demo/sample.csv: a synthetic stratified, clustered, weighted sample with some
# missing values. The seed is fixed, so the file is the same on every run.
# Usage: Rscript scripts/make_example.R [output path]
args <- commandArgs(trailingOnly = TRUE)
out <- if (length(args) > 0) args[1] else "examples/demo/sample.csv"
set.seed(20261208)

strata <- 4                      # design strata
clusters_per_stratum <- 5        # primary sampling units drawn in each stratum
persons_per_cluster <- 10        # persons interviewed in each unit
regions <- c("North", "South", "East", "West")

rows <- list()
id <- 0
for (h in seq_len(strata)) {
  # Units of a larger stratum carry larger weights.
  stratum_weight <- c(120, 80, 200, 150)[h]
  for (c in seq_len(clusters_per_stratum)) {
    cluster_effect <- rnorm(1, 0, 4)
    for (p in seq_len(persons_per_cluster)) {
      id <- id + 1
      age <- round(runif(1, 18, 85))
      income <- round(1800 + 35 * age + 400 * h + 150 * cluster_effect + rnorm(1, 0, 600), 2)
      smoker <- rbinom(1, 1, 0.25)
      rows[[id]] <- data.frame(
        id = id, stratum = h, psu = 100 * h + c,
        weight = round(stratum_weight * runif(1, 0.8, 1.25), 3),
        region = regions[h], age = age, income = income, smoker = smoker)
    }
  }
}
sample <- do.call(rbind, rows)

# Item nonresponse: income missing more often for older persons, smoking status at random.
sample$income[runif(nrow(sample)) < 0.05 + 0.002 * (sample$age - 18)] <- NA
sample$smoker[runif(nrow(sample)) < 0.08] <- NA

write.csv(sample, out, row.names = FALSE, na = "NA", quote = TRUE)
