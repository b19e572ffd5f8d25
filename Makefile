# Entry points for a fresh Debian 12 machine; each installs what it needs.
#   make demo   build the module and run the Octave demonstration
#   make test   build everything and run the whole test suite
#   make bench  run the benchmarks

BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

BUILD_PACKAGES = build-essential cmake googletest libgtest-dev libbenchmark-dev
OCTAVE_PACKAGES = octave liboctave-dev

.PHONY: all deps build demo test bench clean

all: build

deps:
	@sh scripts/install-deps.sh $(BUILD_PACKAGES) $(OCTAVE_PACKAGES)

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DKORVANE_WARNINGS_AS_ERRORS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	octave-cli --no-gui --norc --no-history -q --eval "addpath('$(abspath $(BUILD_DIR))'); run('examples/korvane_demo.m')"

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	$(BUILD_DIR)/bench/korvane_bench

clean:
	rm -rf $(BUILD_DIR)
