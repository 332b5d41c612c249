# Set-up and the two jobs. Each target installs what is missing (Debian
# packages, FFmpeg 9 into its cache), configures and builds first.
BUILD ?= build
SANITIZE ?= OFF
# A ctest name pattern; empty runs every test.
TESTS ?=
JOBS ?= $(shell nproc)
# The Windows x64 build (mingw-w64), tested under Wine.
WIN_BUILD ?= build-win
# The fuzz targets: their own clang build folder and seconds per target.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps ffmpeg configure build test demo bench fuzz windows test-windows clean

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
	@bench/run-index-bench.sh $(BUILD)
	@bench/run-async-bench.sh $(BUILD)
	@bench/run-trim-bench.sh $(BUILD)

fuzz: deps
	@CC=clang CXX=clang++ cmake -G Ninja -S . -B $(FUZZ_BUILD) -DKESTROVA_FUZZ=ON >/dev/null
	@ninja -C $(FUZZ_BUILD) -j$(JOBS)
	@tests/fuzz/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

windows:
	@tools/provide-ffmpeg-windows.sh $(WIN_BUILD)
	@cmake -G Ninja -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=tools/windows-toolchain.cmake >/dev/null
	@ninja -C $(WIN_BUILD) -j$(JOBS)

# The Linux build supplies the test media and the results to agree with.
test-windows: build windows
	@tools/test-windows.sh $(BUILD) $(WIN_BUILD)

clean:
	rm -rf $(BUILD) $(WIN_BUILD)
