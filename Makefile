# Set-up and the two jobs. Each target installs what is missing (Debian
# packages, FFmpeg 9 into its cache), configures and builds first.
BUILD ?= build
SANITIZE ?= OFF
# A ctest name pattern; empty runs every test.
TESTS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps ffmpeg configure build test demo bench clean

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

clean:
	rm -rf $(BUILD)
