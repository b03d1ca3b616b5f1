# The two commands a new user needs:
#   make demo   installs what is missing, builds, starts the configurator on the simulated instrument
#   make test   installs what is missing, builds, runs every test (plus the sanitizer build's tests)
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
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

.PHONY: all setup build demo test test-fast test-sanitize sanitize-build sanitize-run soak fuzz fuzz-build fuzz-smoke bench package package-test clean

all: build

setup:
	@scripts/setup.sh

# Configuring again is cheap and picks up folders that arrived since the last build.
build: setup
	scripts/configure.sh $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DR310_WERROR=$(WERROR)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

# Everything through CTest, then the core tests again under the sanitizers,
# the fuzz targets briefly and a short soak; the time of each stage is
# printed at the end (and when a stage fails).
STAGE_LOG ?= $(BUILD)/stage-times.tsv
STAGE     = scripts/stage.sh $(STAGE_LOG)
test: setup
	@mkdir -p $(BUILD) && rm -f $(STAGE_LOG)
	@$(STAGE) "build" $(MAKE) --no-print-directory build
	@$(STAGE) "tests" ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	@$(STAGE) "sanitizer build" $(MAKE) --no-print-directory sanitize-build
	@$(STAGE) "sanitizer tests" $(MAKE) --no-print-directory sanitize-run
	@$(STAGE) "fuzz build" $(MAKE) --no-print-directory fuzz-build
	@$(STAGE) "fuzz smoke" scripts/fuzz.sh $(FUZZ_BUILD) 3
	@$(STAGE) "soak (30 sessions)" $(ASAN_BUILD)/r310soak --sessions 30
	@$(STAGE) "windows libraries" env R310_WERROR=$(WERROR) JOBS=$(JOBS) scripts/windows-libs.sh test-if-wine
	@scripts/stage.sh --report $(STAGE_LOG)

test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: sanitize-build
	$(MAKE) --no-print-directory sanitize-run

# The sanitizer tree builds what its tests (label core) and the soak run, no more.
sanitize-build: setup
	scripts/configure.sh $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DR310_SANITIZE=ON -DR310_BENCHMARKS=OFF -DR310_WERROR=$(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target r310_core_tests r310soak

sanitize-run:
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -L core

# The fault soak: SOAK_SESSIONS complete r310ctl sessions against r310sim on
# a pseudo-terminal with seeded faults, on the sanitizer build; each failed
# session gets a line, then a table by fault and "N passed, M failed".
SOAK_SESSIONS ?= 1000
soak: setup
	scripts/configure.sh $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DR310_SANITIZE=ON -DR310_BENCHMARKS=OFF -DR310_WERROR=$(WERROR)
	cmake --build $(ASAN_BUILD) -j $(JOBS) --target r310soak
	$(ASAN_BUILD)/r310soak --sessions $(SOAK_SESSIONS)

# The fuzz targets (fuzz/) with clang, libFuzzer and the sanitizers, in a
# tree of their own with only the core libraries; each target runs
# FUZZ_SECONDS seconds and a finding fails the run.
fuzz-build: setup
	scripts/configure.sh $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DR310_FUZZ=ON -DR310_WERROR=$(WERROR)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target r310_fuzz_targets

fuzz: fuzz-build
	scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# A few seconds per target: a parser that crashes on its seeds or near them fails the test.
fuzz-smoke: fuzz-build
	scripts/fuzz.sh $(FUZZ_BUILD) 3

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
