# The suite from inside R: one function per procedure. Each runs the chain of programs that the
# command driver would run for its command, in R host mode: it writes the host dataset's
# metadata, starts the setup checker with /R, runs the extraction program it writes in this R
# session, starts the procedures, and runs the programs they write (the completed-data loader,
# the estimates loader, the bootstrap merge) here as well. The results come back as data frames.
#
# Loaded by the two lines that XML jobs write at the top of an R program:
#     amblib <<- "<install root>R"
#     source(file.path(amblib, "init.R", fsep=.Platform$file.sep))
# The programs are in the "bin" folder beside this one, or in the folder that the environment
# variable TESSARY_BIN names. Plain R: base packages and `foreign` (for .dta, .sav and .xpt data).
# The guide is docs/r.md.

local({
  # ---- Where the library and the programs are ----

  # This folder, made absolute once, so that the functions work from any working folder.
  library_dir <- if (exists("amblib", envir = globalenv(), inherits = FALSE)) {
    get("amblib", envir = globalenv())
  } else {
    # Sourced without the preamble: the folder of the file that source() is reading.
    file <- tryCatch(sys.frame(1)$ofile, error = function(e) NULL)
    if (is.null(file)) getwd() else dirname(file)
  }
  library_dir <- normalizePath(library_dir, winslash = "/", mustWork = FALSE)
  assign("amblib", library_dir, envir = globalenv())

  # The folder of the programs, read at every call so that TESSARY_BIN may change in a session.
  program_dir <- function() {
    bin <- Sys.getenv("TESSARY_BIN")
    if (nzchar(bin)) bin else file.path(dirname(library_dir), "bin")
  }

  # The data frame each call returned, by setup name (see tessary_result()).
  results <- new.env(parent = emptyenv())

  # ---- Arguments of the call lines ----

  # A failure of the user's call: the message and the call it belongs to.
  fail <- function(job, ...) stop(simpleError(paste0(...), job$call))

  # A multiple or implicate selection: a positive whole number, or "all" for all and every word
  # beginning with "con" (concatenated). The call lines write all and con... bare, so `expr` is
  # the unevaluated argument: a bare word of that form is taken as written, anything else is
  # evaluated where the call stands.
  selection <- function(expr, envir, what, job) {
    if (is.null(expr)) return(NULL)
    if (is.symbol(expr) && grepl("^(all|con[[:alpha:]]*)$", as.character(expr), ignore.case = TRUE)) {
      return("all")
    }
    value <- eval(expr, envir)
    if (is.null(value)) return(NULL)
    if (is.character(value) && length(value) == 1 &&
        grepl("^(all|con[[:alpha:]]*)$", value, ignore.case = TRUE)) return("all")
    number <- suppressWarnings(as.numeric(value))
    if (length(number) != 1 || is.na(number) || number < 1 || number != floor(number) || number > 999999999) {
      fail(job, what, " must be a positive whole number, all or con...")
    }
    format(number, scientific = FALSE)
  }

  # The switches of a mode: "batch" writes nothing to the console, "debug" and "test" keep the
  # work files; no mode shows the programs' log lines in the console.
  mode_switches <- function(mode, job) {
    if (is.null(mode)) return(character())
    if (!is.character(mode) || length(mode) != 1) fail(job, "mode must be \"batch\", \"debug\" or \"test\"")
    switch(tolower(mode), batch = "/batch", debug = "/debug", test = "/debug",
           fail(job, "mode must be \"batch\", \"debug\" or \"test\", not \"", mode, "\""))
  }

  # One call of a procedure: its setup file, folder and options.
  new_job <- function(procedure, call, name, dir, dataout, impl, mult, mode, envir) {
    job <- list(procedure = procedure, call = call, envir = envir)
    if (missing(name) || is.null(name) || !is.character(name) || length(name) != 1 || !nzchar(name)) {
      fail(job, "Missing ", procedure, " setup name")
    }
    if (is.null(dir)) dir <- ""
    if (!is.character(dir) || length(dir) != 1) fail(job, "dir must be a folder name")
    folder <- if (nzchar(dir)) dir else "."
    if (!dir.exists(folder)) fail(job, "Folder ", dir, " does not exist")
    if (!is.null(dataout) && (!is.character(dataout) || length(dataout) != 1 || !nzchar(dataout))) {
      fail(job, "dataout must be a dataset name")
    }
    job$name <- name
    job$folder <- normalizePath(folder, winslash = "/")
    job$setup <- paste0(name, ".set")
    job$dataout <- dataout
    job$impl <- impl
    job$mult <- mult
    job$switches <- mode_switches(mode, job)
    if (!file.exists(file.path(job$folder, job$setup))) {
      fail(job, "Can't find setup file ", file.path(job$folder, job$setup))
    }
    job
  }

  # The programs of some procedures take no output name or selection.
  refuse_selection <- function(job) {
    for (option in c("dataout", "impl", "mult")) {
      if (!is.null(job[[option]])) {
        fail(job, job$procedure, "() takes no ", option, ": its setup names its output")
      }
    }
  }

  # Runs `body(job)` in the setup's folder, where the programs and the host programs take their
  # relative paths from, and keeps its result under the setup's name.
  in_folder <- function(job, body) {
    old <- setwd(job$folder)
    on.exit(setwd(old))
    value <- body(job)
    assign(job$name, value, envir = results)
    invisible(value)
  }

  # The companion file of the setup (its name with another extension).
  companion <- function(job, extension) paste0(job$name, extension)

  # ---- Starting the programs ----

  # The message lines that end a program's run in its log: "Error: ...", "Warning: ..." (a
  # warning stop) or "System error: ...", unindented, unlike the warnings of a run that goes on.
  ending_message <- function(lines) {
    found <- grep("^(Error|Warning|System error): ", lines, value = TRUE)
    if (length(found)) found[length(found)] else NULL
  }

  # What a log holds beyond its first `skip` bytes: the lines a program added (a program that
  # starts the log afresh ends it with its message all the same; a log shorter than before is
  # read whole).
  new_log_lines <- function(log, skip) {
    if (!file.exists(log)) return(character())
    size <- file.size(log)
    con <- file(log, "rb")
    on.exit(close(con))
    if (size >= skip) readBin(con, raw(), skip) else skip <- 0
    bytes <- readBin(con, raw(), size - skip)
    bytes[bytes == as.raw(0)] <- as.raw(32)
    strsplit(rawToChar(bytes), "\r?\n")[[1]]
  }

  # Starts `program` on the setup with the switches and waits for it. A program that fails
  # stops the call with its "Error: ..." line, taken from what it added to the setup's log, or
  # from its standard error when it wrote no log.
  run_program <- function(job, program, switches = character()) {
    path <- file.path(program_dir(), program)
    if (!file.exists(path)) {
      fail(job, "Program not found: ", path, " (set TESSARY_BIN to the folder of the programs)")
    }
    log <- companion(job, ".log")
    log_size <- if (file.exists(log)) file.size(log) else 0
    errors <- tempfile("stderr")
    on.exit(unlink(errors))
    # system2 quotes the command itself, but not the arguments.
    status <- suppressWarnings(system2(path, c(shQuote(job$setup), shQuote(switches), shQuote(job$switches)),
                                       stdout = "", stderr = errors))
    error_lines <- if (file.exists(errors)) readLines(errors, warn = FALSE) else character()
    if (identical(as.integer(status), 0L)) {
      # Messages of a run that went on (warnings on the console) stay visible.
      if (length(error_lines)) message(paste(error_lines, collapse = "\n"))
      return(invisible(0L))
    }
    text <- ending_message(new_log_lines(log, log_size))
    if (is.null(text)) text <- ending_message(error_lines)
    if (is.null(text)) {
      said <- error_lines[nzchar(error_lines)]
      text <- sprintf("Error: %s ended with exit code %s%s", program, status,
                      if (length(said)) paste0(": ", said[length(said)]) else "")
    }
    fail(job, text, " [", program, ", log ", file.path(job$folder, log), "]")
  }

  # Runs a program that a procedure wrote for R (extraction, loader, merge) in this session, in
  # an environment of its own so that its variables do not land among the user's. A program
  # reports a failure of an outside program through the variable msg, set with <<-: it lands in
  # the environment just above. `objects` are set in the program's environment before it runs
  # (bootdesign's extraction program writes the host dataset `ds`). Returns the environment the
  # program ran in.
  run_host_program <- function(job, file, objects = list()) {
    if (!file.exists(file)) fail(job, "Error: ", job$procedure, " wrote no program ", file.path(job$folder, file))
    reports <- new.env(parent = globalenv())
    reports$msg <- ""
    env <- list2env(objects, envir = new.env(parent = reports))
    tryCatch(sys.source(file, envir = env, keep.source = FALSE),
             error = function(e) fail(job, "Error: ", conditionMessage(e), " [", file.path(job$folder, file), "]"))
    if (nzchar(reports$msg)) fail(job, "Error: ", reports$msg, " [", file.path(job$folder, file), "]")
    env
  }

  # The object `name` that a host program made.
  program_object <- function(env, name) if (exists(name, envir = env, inherits = FALSE)) get(name, envir = env)

  # ---- Setup files and control files ----

  # The statements of a setup file as lists of tokens (comments dropped, quotes removed).
  setup_statements <- function(path) {
    text <- paste(readLines(path, warn = FALSE), collapse = "\n")
    pattern <- "/\\*[\\s\\S]*?\\*/|\"(?:[^\"]|\"\")*\"|'(?:[^']|'')*'|[;=,]|[^\\s;=,\"']+"
    tokens <- regmatches(text, gregexpr(pattern, text, perl = TRUE))[[1]]
    tokens <- tokens[!startsWith(tokens, "/*")]
    ends <- cumsum(tokens == ";")
    statements <- split(tokens, ends - (tokens == ";"))
    statements <- lapply(statements, function(s) s[s != ";"])
    lapply(statements[lengths(statements) > 0], unquote)
  }

  # A token without its quotes; doubled quotes inside stand for one.
  unquote <- function(tokens) {
    quoted <- grepl("^([\"']).*\\1$", tokens) & nchar(tokens) >= 2
    tokens[quoted] <- vapply(tokens[quoted], function(t) {
      mark <- substr(t, 1, 1)
      gsub(paste0(mark, mark), mark, substr(t, 2, nchar(t) - 1), fixed = TRUE)
    }, "", USE.NAMES = FALSE)
    tokens
  }

  # The values of the first statement whose keyword is one of `keywords` (any case), or NULL.
  statement_values <- function(statements, keywords) {
    for (s in statements) if (tolower(s[1]) %in% keywords) return(s[-1])
    NULL
  }

  # The lower-case extension of a file name, from its last "." (empty when there is none).
  extension <- function(name) {
    found <- regmatches(name, regexpr("\\.[^./]*$", name))
    if (length(found)) tolower(found) else ""
  }

  # Extensions that the extraction programs read as files; any other name is NAME.rda.
  data_file_extensions <- c(".csv", ".dta", ".rda", ".rdata", ".sav", ".txt", ".xpt")

  # Reads a host dataset as the extraction programs do, by the extension of its name.
  read_host_data <- function(job, name) {
    file <- if (extension(name) %in% data_file_extensions) name else paste0(name, ".rda")
    if (!file.exists(file)) fail(job, "Error: Can't find DATAIN ", name, " (", file.path(job$folder, file), ")")
    tryCatch(switch(extension(file),
                    .csv = utils::read.csv(file),
                    .txt = utils::read.delim(file),
                    .dta = foreign::read.dta(file),
                    .sav = foreign::read.spss(file, to.data.frame = TRUE),
                    .xpt = foreign::read.xport(file),
                    { holder <- new.env(); get(load(file, envir = holder)[1], envir = holder) }),
             error = function(e) fail(job, "Error: Can't read DATAIN ", name, ": ", conditionMessage(e)))
  }

  # A DATAIN name that is a data frame of the R session (and no file of a known kind) is saved
  # as NAME.rda, the form in which the extraction program reads it.
  save_session_data <- function(job, names) {
    for (name in names) {
      if (extension(name) %in% data_file_extensions) next
      frame <- get0(name, envir = job$envir, mode = "list")
      if (is.data.frame(frame)) save_as_host_data(frame, name, object = name)
    }
  }

  # The kind word and the DATAOUT name of a control file, read field by field: the header of 49
  # little-endian ints, the title, then the name strings (the DATAIN names, an empty string,
  # then DATAOUT).
  read_control <- function(job) {
    path <- companion(job, ".ctl")
    con <- file(path, "rb")
    on.exit(close(con))
    header <- readBin(con, integer(), 49, size = 4, endian = "little")
    if (length(header) < 49) fail(job, "Error: Control file ", path, " is too short")
    title_bytes <- header[44]
    string_bytes <- header[45]
    if (title_bytes > 0) readBin(con, raw(), title_bytes)
    bytes <- readBin(con, raw(), string_bytes)
    if (length(bytes) < string_bytes) fail(job, "Error: Control file ", path, " is too short")
    ends <- which(bytes == as.raw(0))
    starts <- c(1L, ends + 1L)[seq_along(ends)]
    texts <- vapply(seq_along(ends), function(k) {
      if (ends[k] > starts[k]) rawToChar(bytes[starts[k]:(ends[k] - 1L)]) else ""
    }, "")
    first_empty <- match("", texts)
    list(kind = header[1], dataout = if (!is.na(first_empty)) texts[first_empty + 1L] else NA_character_)
  }

  # Kind bits of the control file.
  kind_impute <- 1L
  kind_synthesize <- 8L

  # ---- Metadata of a host dataset ----

  # A text as a value of a metadata statement: control characters and comment openers are
  # changed, and the text is quoted (inner quotes doubled) when it holds a separator or a quote.
  met_value <- function(text, limit = 200L) {
    text <- gsub("[[:cntrl:]]", " ", enc2utf8(as.character(text)))
    text <- gsub("/*", "/ *", text, fixed = TRUE)
    text <- substr(text, 1L, limit)
    needs <- !nzchar(text) | grepl("[ ,;=\"']", text)
    text[needs] <- paste0("\"", gsub("\"", "\"\"", text[needs], fixed = TRUE), "\"")
    text
  }

  # A numeric code written so that it reads back as the same double.
  code_text <- function(x) {
    short <- as.character(x)
    exact <- suppressWarnings(as.numeric(short)) == x
    ifelse(!is.na(exact) & exact, short, sprintf("%.17g", x))
  }

  # The codeframe of a column: codes and labels, or NULL. A factor is written as its level
  # numbers (what the extraction program writes for it) labelled by its levels; a column with a
  # named vector of codes in its "labels" attribute (as getdata() returns coded variables) keeps
  # those codes.
  column_frame <- function(x) {
    if (is.factor(x)) return(list(codes = as.character(seq_along(levels(x))), labels = levels(x)))
    codes <- attr(x, "labels", exact = TRUE)
    if (is.null(codes) || is.null(names(codes)) || !length(codes)) return(NULL)
    if (is.numeric(codes) && !is.character(x)) {
      if (any(!is.finite(codes))) return(NULL)
      return(list(codes = code_text(unname(codes)), labels = names(codes)))
    }
    codes <- as.character(codes)
    # A text code ends at a blank or "="; such codes cannot be written.
    if (!is.character(x) || any(!grepl("^[^ =;,\"'.][^ =;,\"']{0,7}$", codes))) return(NULL)
    list(codes = codes, labels = names(codes))
  }

  # The metadata file of a host dataset: a standard dataset of 8-byte fields, text columns as
  # characters and every other column as numbers, with the labels and codeframes the data frame
  # carries and its "id" and "mult" attributes.
  write_host_metadata <- function(job, data, path) {
    data <- as.data.frame(data)
    names <- names(data)
    too_long <- names[nchar(names, type = "bytes") > 32]
    if (length(too_long)) fail(job, "Error: Variable name longer than 32 bytes: ", too_long[1])
    lines <- "standard;"
    for (attribute in c("mult", "id")) {
      variable <- attr(data, attribute, exact = TRUE)
      if (is.character(variable) && length(variable) == 1 && variable %in% names) {
        lines <- c(lines, sprintf("%s %s;", attribute, variable))
      }
    }
    lines <- c(lines, "variables")
    frames <- list()
    for (name in names) {
      x <- data[[name]]
      line <- paste0("  name=", name, if (is.character(x)) " type=char width=8" else " type=float width=8")
      label <- attr(x, "label", exact = TRUE)
      if (is.character(label) && length(label) == 1 && nzchar(label)) line <- paste0(line, " label=", met_value(label))
      frame <- column_frame(x)
      if (!is.null(frame)) {
        frame_name <- attr(x, "codeframe", exact = TRUE)
        if (!is.character(frame_name) || length(frame_name) != 1 || !grepl("^[^ =;,\"']{1,32}$", frame_name)) {
          frame_name <- name
        }
        # A frame name shared by columns with other codes gets the column's name instead.
        if (!is.null(frames[[frame_name]]) && !identical(frames[[frame_name]], frame)) frame_name <- name
        frames[[frame_name]] <- frame
        line <- paste0(line, " code=", frame_name)
      }
      lines <- c(lines, paste0(line, ";"))
    }
    if (length(frames)) {
      lines <- c(lines, "codeframes")
      for (frame_name in names(frames)) {
        frame <- frames[[frame_name]]
        pairs <- paste0(frame$codes, "=", met_value(frame$labels), collapse = " ")
        lines <- c(lines, sprintf("  name=%s %s;", frame_name, pairs))
      }
    }
    writeLines(lines, path)
  }

  # Before the checker runs: the session's data frames among the DATAIN names are saved, and the
  # metadata file of the first DATAIN dataset is written as SETUP.met. Returns that dataset.
  prepare_host_data <- function(job) {
    datain <- statement_values(setup_statements(job$setup), "datain")
    if (!length(datain)) return(NULL)   # the checker reports the missing DATAIN
    save_session_data(job, datain)
    data <- read_host_data(job, datain[1])
    write_host_metadata(job, data, companion(job, ".met"))
    data
  }

  # ---- Standard datasets ----

  # The description of a standard dataset: variables (name, text or number, label, codeframe),
  # codeframes and the id and mult variables, from its metadata file.
  read_standard_metadata <- function(job, path) {
    if (!file.exists(path)) fail(job, "Error: Can't open metadata input file: ", path)
    vars <- list()
    frames <- list()
    id <- NULL
    mult <- NULL
    section <- ""
    for (s in setup_statements(path)) {
      keyword <- tolower(s[1])
      if (keyword == "id") { id <- s[2]; next }
      if (keyword == "mult") { mult <- s[2]; next }
      if (startsWith(keyword, "var")) { section <- "variables"; s <- s[-1]; if (!length(s)) next }
      else if (startsWith(keyword, "code")) { section <- "frames"; s <- s[-1]; if (!length(s)) next }
      else if (keyword %in% c("end") || startsWith(keyword, "stand") || startsWith(keyword, "tab") ||
               startsWith(keyword, "del") || startsWith(keyword, "rec") || keyword == "skip") { next }
      if (section == "variables") vars[[length(vars) + 1]] <- attribute_pairs(s)
      else if (section == "frames") {
        frame <- frame_pairs(s)
        frames[[tolower(frame$name)]] <- frame
      }
    }
    type <- "f"
    for (k in seq_along(vars)) {
      given <- vars[[k]]$type
      if (!is.null(given)) type <- tolower(substr(given, 1, 1))
      vars[[k]]$text <- type == "c"
    }
    list(vars = vars, frames = frames, id = id, mult = mult)
  }

  # The attribute=value pairs of a variable description, by lower-case attribute.
  attribute_pairs <- function(tokens) {
    tokens <- tokens[tokens != ","]
    pairs <- list()
    k <- 1
    while (k <= length(tokens)) {
      if (k + 2 <= length(tokens) && tokens[k + 1] == "=") {
        key <- tolower(tokens[k])
        if (startsWith(key, "code")) key <- "code"
        pairs[[key]] <- tokens[k + 2]
        k <- k + 3
      } else {
        k <- k + 1
      }
    }
    pairs
  }

  # A codeframe statement: name=FRAME, then code=label pairs (a blank may stand for "=").
  frame_pairs <- function(tokens) {
    tokens <- tokens[tokens != "," & tokens != "="]
    name <- tokens[2]
    rest <- tokens[-(1:2)]
    if (length(rest) %% 2 == 1) rest <- rest[-length(rest)]
    codes <- rest[c(TRUE, FALSE)]
    labels <- rest[c(FALSE, TRUE)]
    keep <- !startsWith(codes, ".")
    list(name = name, codes = codes[keep], labels = labels[keep])
  }

  # Reads a standard dataset (NAME.met and NAME.dat, 8-byte fields) into a data frame: missing
  # numbers and blank texts become NA, labels become "label" attributes, codeframes "labels"
  # attributes (codes named by their labels) and "codeframe" (the frame's name); the id and mult
  # variables are the data frame's attributes of those names.
  read_standard_dataset <- function(job, base) {
    meta <- read_standard_metadata(job, paste0(base, ".met"))
    data_path <- paste0(base, ".dat")
    nvar <- length(meta$vars)
    if (!nvar) fail(job, "Error: No variables in ", base, ".met")
    size <- file.size(data_path)
    if (is.na(size)) fail(job, "Error: Can't open data file ", data_path)
    record <- 8 * nvar
    if (size %% record != 0) fail(job, "Error: Data file ", data_path, " is not a whole number of records")
    records <- size / record
    bytes <- matrix(readBin(data_path, raw(), size), nrow = record)
    columns <- lapply(seq_len(nvar), function(k) {
      v <- meta$vars[[k]]
      field <- bytes[(8 * k - 7):(8 * k), , drop = FALSE]
      if (v$text) {
        field[field == as.raw(0)] <- as.raw(32)
        x <- sub(" +$", "", apply(field, 2, rawToChar))
        if (!records) x <- character()
        x[x == ""] <- NA
      } else {
        x <- readBin(as.vector(field), double(), records, endian = "little")
        x[x == -.Machine$double.xmax] <- NA
      }
      if (!is.null(v$label)) attr(x, "label") <- v$label
      frame <- if (is.null(v$code)) NULL else meta$frames[[tolower(v$code)]]
      if (!is.null(frame)) {
        codes <- if (v$text) frame$codes else as.numeric(frame$codes)
        attr(x, "labels") <- stats::setNames(codes, frame$labels)
        attr(x, "codeframe") <- frame$name
      }
      x
    })
    names(columns) <- vapply(meta$vars, function(v) v$name, "")
    data <- as.data.frame(columns, stringsAsFactors = FALSE, optional = TRUE)
    for (k in seq_len(nvar)) attributes(data[[k]]) <- attributes(columns[[k]])
    if (!is.null(meta$id)) attr(data, "id") <- meta$id
    if (!is.null(meta$mult)) attr(data, "mult") <- meta$mult
    data
  }

  # Saves a data frame as BASE.rda, by default under a name made from BASE: the form in which a
  # setup's "datain BASE;" reads it in R.
  save_as_host_data <- function(data, base, object = make.names(basename(base))) {
    holder <- new.env()
    assign(object, data, envir = holder)
    save(list = object, envir = holder, file = paste0(base, ".rda"))
  }

  # A dataset name without a trailing ".met" (any case).
  dataset_name <- function(name) sub("\\.met$", "", name, ignore.case = TRUE)

  # ---- The chains ----

  # Checker with /R, extraction in this session; returns the control file's kind and DATAOUT.
  check_and_extract <- function(job) {
    prepare_host_data(job)
    unlink(companion(job, c(".inp", ".dat")))
    run_program(job, "tesset", "/R")
    run_host_program(job, companion(job, ".inp"))
    read_control(job)
  }

  # Imputation, then its plots program when it wrote one.
  run_imputation <- function(job) {
    run_program(job, "impute", "/R")
    if (file.exists(companion(job, ".out"))) run_host_program(job, companion(job, ".out"))
  }

  # emitdata's switches of the call's dataout, impl and mult (options not given are not in `job`).
  export_switches <- function(job) {
    switches <- c(dataout = "/dataout=", impl = "/impl=", mult = "/mult=")
    given <- intersect(names(switches), names(job))
    paste0(switches[given], unlist(job[given]), recycle0 = TRUE)
  }

  # The export of the completed data and its loader; returns the completed data.
  export_completed <- function(job) {
    unlink(companion(job, ".emt"))
    run_program(job, "emitdata", c("/R", export_switches(job)))
    program_object(run_host_program(job, companion(job, ".emt")), "imp")
  }

  imputation_chain <- function(job) {
    control <- check_and_extract(job)
    if (!bitwAnd(control$kind, kind_impute + kind_synthesize)) return(NULL)
    run_imputation(job)
    export_completed(job)
  }

  # Describe: checker, [imputation, [export when the setup names a DATAOUT]], staging, describe,
  # and the estimates loader, which describe writes when the setup names an ESTOUT.
  describe_chain <- function(job) {
    control <- check_and_extract(job)
    if (bitwAnd(control$kind, kind_impute + kind_synthesize)) {
      run_imputation(job)
      if (!is.na(control$dataout) && nzchar(control$dataout)) export_completed(job)
    }
    run_program(job, "stagedata", "/R")
    run_program(job, "describe", "/R")
    if (!file.exists(companion(job, ".out"))) return(NULL)
    program_object(run_host_program(job, companion(job, ".out")), "ests")
  }

  # Bootdesign's two host phases: setup and extraction, then the draws and the merge program.
  bootdesign_chain <- function(job) {
    data <- prepare_host_data(job)
    unlink(companion(job, c(".inp", ".out")))
    run_program(job, "bootdesign", c("/R", "/SETUP"))
    run_host_program(job, companion(job, ".inp"), list(ds = data))
    run_program(job, "bootdesign", "/R")
    program_object(run_host_program(job, companion(job, ".out")), "ds")
  }

  # getdata writes a standard dataset; it is read back, and saved as NAME.rda for later setups.
  getdata_chain <- function(job) {
    run_program(job, "getdata")
    statements <- setup_statements(job$setup)
    out <- statement_values(statements, "dataout")
    base <- dataset_name(if (length(out)) out[1] else job$name)
    data <- read_standard_dataset(job, base)
    save_as_host_data(data, base)
    data
  }

  # Emitdata: the export of an imputation run of this library when the setup has one (its
  # control file and extracted data), else a run on the setup's own statements, whose output is
  # read back when it is a standard dataset or a delimited table.
  emitdata_chain <- function(job) {
    if (file.exists(companion(job, ".ctl")) && file.exists(companion(job, ".dat"))) return(export_completed(job))
    run_program(job, "emitdata", export_switches(job))
    read_emitted(job)
  }

  # The output of emitdata's own statements as a data frame; NULL for fixed-width text.
  read_emitted <- function(job) {
    statements <- setup_statements(job$setup)
    table <- statement_values(statements, c("tab", "table", "tables"))
    delimiters <- statement_values(statements, c("del", "delim", "delimiters"))
    out <- statement_values(statements, "dataout")
    if (length(table)) out <- table
    base <- if (length(out)) out[1] else job$name
    if (is.null(table) && is.null(delimiters)) return(read_standard_dataset(job, dataset_name(base)))
    path <- if (extension(base) == "") paste0(base, ".txt") else base
    delimiter <- if (length(delimiters)) gsub("\\t", "\t", delimiters[1], fixed = TRUE) else "\t"
    if (tolower(delimiter) == "none") return(NULL)
    utils::read.table(path, header = TRUE, sep = substr(delimiter, 1, 1), quote = "\"", na.strings = "",
                      check.names = FALSE, stringsAsFactors = FALSE, comment.char = "")
  }

  # ---- The functions of the call lines ----

  # A procedure function: `chain` runs the programs; `selections` says whether dataout, impl
  # and mult mean anything to it.
  procedure <- function(word, chain, selections = TRUE) {
    force(word)
    force(chain)
    function(name, dir = "", dataout = NULL, impl = NULL, mult = NULL, mode = NULL) {
      envir <- parent.frame()
      call <- sys.call()
      job <- list(procedure = word, call = call)
      impl <- selection(substitute(impl), envir, "impl", job)
      mult <- selection(substitute(mult), envir, "mult", job)
      job <- new_job(word, call, name, dir, dataout, impl, mult, mode, envir)
      if (!selections) refuse_selection(job)
      in_folder(job, chain)
    }
  }

  # Commands of the driver that have no program in this suite, or belong to another host.
  unsupported <- function(word, reason) {
    force(word)
    force(reason)
    function(name, dir = "", dataout = NULL, impl = NULL, mult = NULL, mode = NULL) {
      stop(simpleError(paste0(word, "() is not available in R: ", reason), sys.call()))
    }
  }

  public <- list(
    impute = procedure("impute", imputation_chain),
    synthesize = procedure("synthesize", imputation_chain),
    describe = procedure("describe", describe_chain),
    emitdata = procedure("emitdata", emitdata_chain),
    bootdesign = procedure("bootdesign", bootdesign_chain, selections = FALSE),
    getdata = procedure("getdata", getdata_chain, selections = FALSE),
    regress = unsupported("regress", paste(
      "the suite has no regression program; fit the model on each completed data set in R and pool",
      "the fits with poolfit_replicates() and the poolfit program (docs/poolfit.md)")),
    combine = unsupported("combine", "the suite has no combine program"),
    search = unsupported("search", "the suite has no search program (seekset only checks its setups)"),
    sasmod = unsupported("sasmod", "sasmod runs SAS models and exists only for SAS"),
    # The data frame that the last call with this setup name returned (NULL when none did).
    tessary_result = function(name) get0(name, envir = results, inherits = FALSE)
  )
  for (f in names(public)) assign(f, public[[f]], envir = globalenv())
})

# The host side of the pooled regressions.
source(file.path(amblib, "poolfit.R", fsep = .Platform$file.sep))
