# Two entry points: `make test` and `make demo`.
BUILD      ?= build
FUZZ_BUILD ?= build-fuzz
REL_BUILD  ?= build-release
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20
PREFIX     ?= /usr/local

.PHONY: all setup build test fuzz tsan demo bench install install-check release-libs clean

all: build

setup:
	bash scripts/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DMORVIK_SANITIZE=ON -DMORVIK_BENCH=OFF

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)
	$(MAKE) fuzz

# Short libFuzzer runs of every reader under AddressSanitizer.
fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DMORVIK_FUZZ=ON -DMORVIK_TESTS=OFF \
	  -DMORVIK_BENCH=OFF -DMORVIK_TOOLS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzzers.sh $(FUZZ_BUILD)

# The tests that run worker threads, under ThreadSanitizer: the threaded line
# fill (block split, inline limit, the real 40,000-shape threshold), the
# spiral's loop-path thread, the DXF builder's and reader's large mode, and a
# marking thread beside an editing thread on each family of shapes.
TSAN_FILL_TESTS = FillShapeTest.ThreadedFillMatchesInlineFill:FillShapeTest.RealThreshold*:HatchFill.*Block*:HatchFill.*FortyThousand*:HatchFill.*Thread*:HatchFill.SlowFillQuestion*
# Runs test executable $(1) with filter $(2), logging to tsan-$(3).log, with
# extra TSan options $(4); fails on a report, a failed test, or a filter that
# no longer selects any test.
tsan_run = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1$(4) $(TSAN_BUILD)/tests/$(1) --gtest_filter='$(2)' \
	  >$(TSAN_BUILD)/tsan-$(3).log 2>&1; rc=$$?; cat $(TSAN_BUILD)/tsan-$(3).log; \
	  [ $$rc -eq 0 ] && grep -Eq '^\[  PASSED  \] [1-9]' $(TSAN_BUILD)/tsan-$(3).log

# The reader's large-file test also reads a file at the threshold, whose
# 20 MB header comment goes through iconv in 4 KB pieces; TSan's iconv
# interceptor rescans all remaining input on every piece (two minutes
# instead of seconds), so that run leaves the C library calls unchecked.
tsan: setup
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DMORVIK_TSAN=ON -DMORVIK_BENCH=OFF -DMORVIK_TOOLS=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_compose test_shapes test_import test_text test_history
	$(call tsan_run,test_compose,$(TSAN_FILL_TESTS),fill)
	$(call tsan_run,test_shapes,ScrewLine.*,spiral)
	$(call tsan_run,test_text,MarkingLoop.TwoMarkingThreads*:MarkRecordTest.TwoHistories*,vartext)
	$(call tsan_run,test_import,DxfBuilder.*Large*,dxf-builder)
	$(call tsan_run,test_import,DxfReader.*Large*,dxf-reader,:ignore_interceptors_accesses=1)
	MORVIK_STRESS_MS=2000 $(call tsan_run,test_history,Families/MarkingWhileEditing.*:Hooks/*:ShapeGuardTest.*,marking)

demo: setup
	cmake -S . -B $(REL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVIK_TESTS=OFF
	cmake --build $(REL_BUILD) -j $(JOBS) --target morvik_demo
	$(REL_BUILD)/tools/morvik_demo $(REL_BUILD)/demo-output

# The two libraries, their headers, the CMake package and the pkg-config
# files, under $(PREFIX).
install: release-libs
	cmake --install $(REL_BUILD) --prefix $(PREFIX)

# Installs into a temporary prefix and checks it as hosts meet it: the
# package files, the headers, the exports, the README's commands as written,
# the sample host and the hosts of tests/install.
install-check: release-libs
	JOBS=$(JOBS) bash scripts/check-install.sh $(REL_BUILD)

release-libs: setup
	cmake -S . -B $(REL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVIK_TESTS=OFF
	cmake --build $(REL_BUILD) -j $(JOBS) --target Morvik calib

bench: setup
	cmake -S . -B $(REL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVIK_TESTS=OFF
	cmake --build $(REL_BUILD) -j $(JOBS)
	for b in $(REL_BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(REL_BUILD) $(TSAN_BUILD)
