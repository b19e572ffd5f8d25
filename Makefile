# Entry points for a fresh Debian 12 machine; each installs what it needs.
#   make demo   build the Octave modules alone (korvane.oct and korvane.mex,
#               korvane_info beside them, in build/demo: no tests, no
#               benchmarks) and run the Octave examples
#   make test   build everything and run the whole test suite: this machine
#               (with valgrind and the Octave soak), the sanitizers and the
#               fuzzer, 32-bit x86 under qemu-i386, 64-bit Arm under
#               qemu-aarch64, the Windows DLLs (the 64-bit one under Wine)
#   make docs   measure accuracy and speed here and redraw the charts in docs/
#   make dist   make the Octave package archive build/korvane-<version>.tar.gz
#   make bench  run the benchmarks

BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

BUILD_PACKAGES = build-essential cmake googletest libgtest-dev libbenchmark-dev valgrind qemu-user
OCTAVE_PACKAGES = octave liboctave-dev octave-parallel gnuplot-nox
DEMO_PACKAGES = build-essential cmake octave liboctave-dev octave-parallel
DEMO_BUILD_DIR ?= $(BUILD_DIR)/demo
# g++-12-multilib, not g++-multilib: the latter conflicts with the Arm cross
# compiler (the linux-i386 toolchain supplies the one header link it adds).
PRESET_PACKAGES = clang libclang-rt-14-dev g++-12-multilib qemu-user \
                  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 g++-aarch64-linux-gnu
PRESETS = sanitize linux-i386 linux-aarch64 windows-x86 windows-x64

.PHONY: all deps demo-deps preset-deps build demo docs dist test test-native test-presets bench clean

all: build

deps:
	@sh scripts/install-deps.sh $(BUILD_PACKAGES) $(OCTAVE_PACKAGES)

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release -DKORVANE_WARNINGS_AS_ERRORS=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo-deps:
	@sh scripts/install-deps.sh $(DEMO_PACKAGES)

# The examples need the Octave modules only: no tests, no benchmarks.
# korvane.oct is built with korvane.mex, whose build puts the help file beside
# both.
demo: demo-deps
	cmake -S . -B $(DEMO_BUILD_DIR) -DCMAKE_BUILD_TYPE=Release \
	  -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_BENCH=OFF -DKORVANE_BUILD_MATLAB=OFF
	cmake --build $(DEMO_BUILD_DIR) -j $(JOBS) --target korvane_octave korvane_oct \
	  korvane_smallest_octave korvane_smallest_oct korvane_info_octave korvane_info_oct
	octave-cli --no-gui --norc --no-history -q --eval "addpath('$(abspath $(DEMO_BUILD_DIR))'); korvane_info"
	for example in examples/*.m; do \
	  echo "== $$example"; \
	  octave-cli --no-gui --norc --no-history -q \
	    --eval "addpath('$(abspath $(DEMO_BUILD_DIR))'); run('$$example')" || exit 1; \
	done

# Measures accuracy and speed on this machine and redraws docs/*.png.
docs: build
	sh docs/make_charts.sh $(BUILD_DIR) docs

# The Octave package archive, build/korvane-<version>.tar.gz.
dist:
	sh scripts/make-dist.sh $(BUILD_DIR)

preset-deps:
	@sh scripts/install-deps.sh $(PRESET_PACKAGES)

test: test-native test-presets

test-native: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Each preset builds in build/<preset> and runs its tests there.
test-presets: preset-deps
	for preset in $(PRESETS); do \
	  cmake --preset $$preset && cmake --build build/$$preset -j $(JOBS) && \
	  (cd build/$$preset && ctest --output-on-failure -j $(JOBS)) || exit 1; \
	done

bench: build
	$(BUILD_DIR)/bench/korvane_bench

clean:
	rm -rf $(BUILD_DIR)
