# Two entry points: `make test` and `make demo`.
BUILD      ?= build
FUZZ_BUILD ?= build-fuzz
REL_BUILD  ?= build-release
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20

.PHONY: all setup build test fuzz demo bench clean

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

demo: setup
	cmake -S . -B $(REL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVIK_TESTS=OFF
	cmake --build $(REL_BUILD) -j $(JOBS) --target morvik_demo
	$(REL_BUILD)/tools/morvik_demo $(REL_BUILD)/demo-output

bench: setup
	cmake -S . -B $(REL_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVIK_TESTS=OFF
	cmake --build $(REL_BUILD) -j $(JOBS)
	for b in $(REL_BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(REL_BUILD)
