# The two commands of the README:
#   make test   installs what is missing, builds and runs every test
#   make demo   builds the downloader and runs it against the publisher server
# Further targets: test-sanitize (the same tests under ASan/UBSan, built with
# CMake's default generator while the others use Ninja), test-tsan, bench,
# format (rewrite every C++ source with clang-format), format-check, tidy,
# package (the Debian package) and check-package (the installed program and
# the package: scripts/check-package.sh).

JOBS      ?= 2
BUILD     ?= build
SANBUILD  ?= build-sanitize
TSANBUILD ?= build-tsan
FUZZBUILD ?= build-fuzz
FUZZ_SECONDS ?= 15
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
CTEST_ARGS ?= --output-on-failure -j$(JOBS) --timeout 600

.PHONY: deps build test demo build-sanitize test-sanitize fuzz build-tsan test-tsan bench format format-check tidy package check-package clean

deps:
	@./scripts/install-deps.sh

# Configuring every time is quick, and picks up folders added since the last run.
build: deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) $(CTEST_ARGS)
	$(MAKE) fuzz

demo: deps
	JOBS=$(JOBS) ./scripts/demo.sh $(BUILD)

# Each fuzz target runs for FUZZ_SECONDS in a clang build of its own.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMESHDROP_FUZZ=ON >/dev/null
	./scripts/run-fuzzers.sh $(FUZZBUILD) $(FUZZ_SECONDS) $(JOBS)

# The sanitizer build uses CMake's default generator (Unix Makefiles), so that
# CI builds once with each generator: a folder configured earlier with
# another generator is started afresh, and the check below proves which one
# built it.
build-sanitize: deps
	@if grep -qs '^CMAKE_GENERATOR:INTERNAL=' $(SANBUILD)/CMakeCache.txt && \
	    ! grep -qs '^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$$' $(SANBUILD)/CMakeCache.txt; then \
	  echo "build-sanitize: $(SANBUILD) was configured with another generator; starting it afresh"; \
	  rm -rf $(SANBUILD); \
	fi
	env -u CMAKE_GENERATOR cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=Debug -DMESHDROP_SANITIZE=ON >/dev/null
	grep -q '^CMAKE_GENERATOR:INTERNAL=Unix Makefiles$$' $(SANBUILD)/CMakeCache.txt
	cmake --build $(SANBUILD) -j$(JOBS)

test-sanitize: build-sanitize
	ctest --test-dir $(SANBUILD) $(CTEST_ARGS) -LE no-sanitize

build-tsan: deps
	cmake -S . -B $(TSANBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMESHDROP_TSAN=ON >/dev/null
	cmake --build $(TSANBUILD) -j$(JOBS)

# The thread-sanitizer build has no window (see CMakeLists.txt).
test-tsan: build-tsan
	ctest --test-dir $(TSANBUILD) $(CTEST_ARGS) -LE no-sanitize

bench: build
	./scripts/run-benchmarks.sh $(BUILD)

package: build
	cd $(BUILD) && cpack -G DEB

check-package: build
	./scripts/check-package.sh $(BUILD)

# Every tracked C++ source; each folder's .clang-format decides its style.
FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h' '*.c')

format: deps
	clang-format -i $(FORMAT_FILES)

format-check: deps
	clang-format --dry-run -Werror $(FORMAT_FILES)

# The naming checks of each folder's .clang-tidy, on the sources of the
# layers that have one (needs the compile commands of `make build`).
TIDY_FILES = $(shell git ls-files 'meshdrop_source/*.cpp' 'app/*.cpp' 'platform/win32/*.cpp' 'tools/*.cpp' 'engine/*.cpp' | grep -v fuzz)

tidy: build
	clang-tidy -p $(BUILD) --quiet --warnings-as-errors='*' $(TIDY_FILES)

clean:
	rm -rf $(BUILD) $(SANBUILD) $(TSANBUILD) $(FUZZBUILD)
