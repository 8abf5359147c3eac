amblib <<- "<root>/R"
source(file.path(amblib, "init.R", fsep=.Platform$file.sep))

x <- 1
describe(name="d1")

