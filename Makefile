# The two commands a new user needs:
#   make demo   installs what is missing, builds, starts the configurator on the simulated instrument
#   make test   installs what is missing, builds the test tree, runs every test under the sanitizers
BUILD      ?= build
TEST_BUILD ?= build-test
# Seconds each fuzz target runs in `make fuzz` (the test's smoke runs 3).
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# Continuous integration (CI=true) treats every compiler warning as an error in
# both build trees; a local build only shows the warnings.
ifeq ($(CI),true)
WERROR     ?= ON
else
WERROR     ?= OFF
endif

.PHONY: all setup build demo test test-build test-run test-fast soak fuzz fuzz-smoke bench package package-test clean

all: build

setup:
	@scripts/setup.sh

# Configuring again is cheap and picks up folders that arrived since the last build.
build: setup
	scripts/configure.sh $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DR310_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

# The test tree: every library, program and test compiled once, with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, without optimisation and
# with line tables only (the cheapest build whose reports still name the
# source line); the fuzz targets link the same libraries. LLVM's linker
# links the many test programs several times faster than the system's. The
# release tree ($(BUILD)) is for the demo, the package and the benchmarks.
TEST_FLAGS = -O0 -gline-tables-only
test-build: setup
	scripts/configure.sh $(TEST_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_C_FLAGS_DEBUG=$(TEST_FLAGS)" "-DCMAKE_CXX_FLAGS_DEBUG=$(TEST_FLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld \
	  -DR310_FUZZ=ON -DR310_BENCHMARKS=OFF -DR310_WERROR=$(WERROR)
	cmake --build $(TEST_BUILD) -j $(JOBS)

SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt

test-run:
	$(SANITIZER_ENV) ctest --test-dir $(TEST_BUILD) --output-on-failure -j $(JOBS)

# Sessions of the soak at a time: each mostly waits for its 9600-baud line.
SOAK_JOBS ?= $(shell echo $$(( $(JOBS) * 3 )))

# The test tree, every test, the fuzz targets briefly and a short soak; the
# time of each stage is printed at the end (and when a stage fails).
STAGE_LOG ?= $(TEST_BUILD)/stage-times.tsv
STAGE     = scripts/stage.sh $(STAGE_LOG)
test: setup
	@mkdir -p $(TEST_BUILD) && rm -f $(STAGE_LOG)
	@$(STAGE) "build" $(MAKE) --no-print-directory test-build
	@$(STAGE) "tests" $(MAKE) --no-print-directory test-run
	@$(STAGE) "fuzz smoke, soak (30 sessions)" scripts/together.sh "scripts/fuzz.sh $(TEST_BUILD) 3" \
	  "env $(SANITIZER_ENV) $(TEST_BUILD)/r310soak --sessions 30 --jobs $(SOAK_JOBS)"
	@scripts/stage.sh --report $(STAGE_LOG)

# The tests again on the release tree (quicker to rebuild after a change).
test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The fault soak: SOAK_SESSIONS complete r310ctl sessions against r310sim on
# a pseudo-terminal with seeded faults, on the test tree; each failed session
# gets a line, then a table by fault and "N passed, M failed".
SOAK_SESSIONS ?= 1000
soak: test-build
	env $(SANITIZER_ENV) $(TEST_BUILD)/r310soak --sessions $(SOAK_SESSIONS) --jobs $(SOAK_JOBS)

# Each fuzz target of the test tree for FUZZ_SECONDS seconds; a finding fails the run.
fuzz: test-build
	scripts/fuzz.sh $(TEST_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: test-build
	scripts/fuzz.sh $(TEST_BUILD) 3

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target r310_benchmarks
	@for b in $(BUILD)/bench/*; do \
	  if [ -f "$$b" ] && [ -x "$$b" ]; then echo "== $$b"; "$$b" || exit 1; fi; \
	done

# The Debian package, from the programs and libraries alone (no tests, no
# benchmarks): $(BUILD)/packages/r310conf_VERSION-1_ARCH.deb.
package: setup
	scripts/configure.sh $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DR310_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS) --target r310_packaged
	rm -f $(BUILD)/packages/r310conf_*.deb
	cd $(BUILD) && cpack --config CPackConfig.cmake
	@ls $(BUILD)/packages/r310conf_*.deb

# The package checked by lintian, unpacked, and its programs run from there.
package-test: package
	scripts/package-test.sh $(BUILD)

# VykTool and KALTEX32 as 32- and 64-bit Windows DLLs, cross-compiled with
# MinGW-w64 into build-windows/ (a zip per architecture); windows-test checks
# their exports and imports and runs the Windows test programs under Wine.
# scripts/setup-windows.sh installs the toolchains and Wine.
.PHONY: windows-libs windows-test
windows-libs:
	R310_WERROR=$(WERROR) JOBS=$(JOBS) scripts/windows-libs.sh build

windows-test:
	R310_WERROR=$(WERROR) JOBS=$(JOBS) scripts/windows-libs.sh test

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
