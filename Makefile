# Set-up and everyday commands. `make demo` and `make test` install what is missing, configure
# and build first, so each works on a fresh Debian machine as root.
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
BUILD := build
ASAN_BUILD := build-asan
FUZZ_BUILD := build-fuzz
# Seconds each fuzz target runs under `make fuzz`.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := setup tesset metadata control getdata settings cor replicates
CMAKE_FLAGS := -G Ninja -DTESSARY_WERROR=ON

.PHONY: deps build build-asan build-fuzz demo test test-plain test-asan fuzz bench install clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DTESSARY_SANITIZE=ON -DTESSARY_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The libFuzzer targets of the parsers, built with clang in a folder of their own.
build-fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTESSARY_FUZZ=ON -DTESSARY_TESTS=OFF -DTESSARY_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets

# Runs every fuzz target for FUZZ_SECONDS; fails when one finds a crash, a hang or a memory blow-up.
fuzz: build-fuzz
	bash scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Runs the command driver on the shipped example master setup.
demo: build
	bash scripts/demo.sh $(BUILD)

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The whole suite: the ordinary build, then the same tests under the sanitizers.
test: test-plain test-asan

bench: build
	bash scripts/bench.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
