# Set-up and the two jobs. Each target installs what is missing (Debian
# packages, FFmpeg 9 into its cache), configures and builds first.
BUILD ?= build
SANITIZE ?= OFF
# A ctest name pattern; empty runs every test.
TESTS ?=
JOBS ?= $(shell nproc)
# The fuzz targets: their own clang build folder and seconds per target.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps ffmpeg configure build test demo bench fuzz clean

all: build

deps:
	@tools/install-deps.sh

ffmpeg: deps
	@tools/provide-ffmpeg.sh $(BUILD)

configure: ffmpeg
	@cmake -G Ninja -S . -B $(BUILD) -DKESTROVA_SANITIZE=$(SANITIZE) >/dev/null

build: configure
	@ninja -C $(BUILD) -j$(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 300 $(if $(TESTS),-R "$(TESTS)")

demo: build
	@tools/demo.sh $(BUILD)

bench: build
	@bench/run-decode-bench.sh $(BUILD)
	@bench/run-frames-bench.sh $(BUILD)
	@bench/run-audio-bench.sh $(BUILD)
	@bench/run-async-bench.sh $(BUILD)

fuzz: deps
	@CC=clang CXX=clang++ cmake -G Ninja -S . -B $(FUZZ_BUILD) -DKESTROVA_FUZZ=ON >/dev/null
	@ninja -C $(FUZZ_BUILD) -j$(JOBS)
	@tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
