# Entry points: `make demo` runs the simulated shop, `make test` builds and runs the tests.
# dpkg-dev and file: CPack reads the binaries' library dependencies for the .deb.
# qt6-base-dev and libgl-dev (Qt6::Gui needs OpenGL's headers): the desktop station;
# xvfb and xauth: its smoke test and screenshot without a display; openbox and xdotool: a
# window manager and an operator's keys for the smoke test.
# libsqlite3-dev and libdtl-dev: the journal and its program history's diffs; strace and
# python3: the kill test of the history (strace kills the station at chosen system calls).
# libmosquitto-dev: the plant publisher; mosquitto, mosquitto-clients and openssl: its tests
# against the real broker (and the demo's broker).
# libcpp-httplib-dev: the status page's HTTP server; chromium: its browser test and screenshots.
PACKAGES := g++ cmake make pkg-config libfmt-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev \
            dpkg-dev file qt6-base-dev libgl-dev xvfb xauth openbox xdotool libsqlite3-dev libdtl-dev \
            strace python3 libmosquitto-dev mosquitto mosquitto-clients openssl libcpp-httplib-dev \
            chromium
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= 2

FUZZ_SECONDS ?= 60
# WERROR=ON turns warnings into errors (CI does, so the build stays warning-free).
WERROR ?= OFF

.PHONY: deps configure build programs test sanitize demo demo-gui bench bench-lines package fuzz fuzz-build fuzz-smoke soak kill-test unit-check format clean

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHOPLINK_WERROR=$(WERROR)

build: configure
	cmake --build build -j$(JOBS)

# The two programs a demo or a whole-program benchmark runs: the station and the simulated shop,
# without the test suite and the benchmarks.
programs: configure
	cmake --build build -j$(JOBS) --target shoplink shoplink-sim

# Three tests at a time on two cores: many of them wait on real time (device servers, a real
# station against the simulated shop), not on the CPU.
TEST_JOBS ?= 3
test: build
	cd build && ctest --output-on-failure -j$(TEST_JOBS)

# The suite in shards, four at a time: most of its tests wait on real time, not the CPU.
sanitize: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSHOPLINK_SANITIZE=ON
	cmake --build build-asan -j$(JOBS) --target test-drivers
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j4

demo: programs
	NET=$(NET) ./scripts/demo.sh build

# The desktop station against the simulated shop (needs a display; see README).
demo-gui: build
	./scripts/demo-gui.sh build

# The libFuzzer targets, built by clang, each run FUZZ_SECONDS from its committed corpus (new
# inputs it finds go to build-fuzz/corpus, the committed corpus stays as it is).
fuzz-build: deps
	@command -v clang++ >/dev/null || { $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang; }
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHOPLINK_FUZZ=ON
	cmake --build build-fuzz -j$(JOBS) --target config_fuzz machine_fuzz codes_fuzz

fuzz: fuzz-build
	for t in config machine codes; do \
	  mkdir -p build-fuzz/corpus/$$t && \
	  ./build-fuzz/fuzz/$${t}_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -dict=fuzz/commands.dict build-fuzz/corpus/$$t fuzz/corpus/$$t || exit 1; \
	done

# A short fixed-seed pass of each target for CI: the same inputs every run.
fuzz-smoke: fuzz-build
	for t in config:20000 machine:4000 codes:500000; do \
	  name=$${t%%:*}; runs=$${t##*:}; rm -rf build-fuzz/smoke/$$name; mkdir -p build-fuzz/smoke/$$name && \
	  ./build-fuzz/fuzz/$${name}_fuzz -seed=1 -runs=$$runs -timeout=10 -dict=fuzz/commands.dict \
	    build-fuzz/smoke/$$name fuzz/corpus/$$name || exit 1; \
	done

# Eight busy simulated machines against the station for SOAK_HOURS of virtual time; prints
# programs and uploads checked, the log's peak, RSS and descriptors. The hour version runs in
# the tests (Soak.*).
SOAK_HOURS ?= 24
soak: build
	cmake --build build -j$(JOBS) --target shoplink_soak
	./build/tests/shoplink_soak --hours $(SOAK_HOURS)

# The service unit: `systemd-analyze verify` without a complaint and a security exposure of at
# most 2.0. systemd-analyze comes with the package systemd, which a minimal system may lack.
unit-check: build
	@command -v systemd-analyze >/dev/null || { \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq systemd; }
	scripts/check-unit build

# The Debian package (binaries, systemd unit, man pages, README) in build/.
package: build
	cd build && cpack -G DEB

# Every kill point of the kill test (the test suite tries a few of each kind).
kill-test: build
	./scripts/kill-test.sh build

bench: build
	./build/bench/shoplink_bench

# N stations at once, each with its own simulated shop (bench/README.md): NS="1 4 8 16 32",
# NET=1 through loopback device servers, SIZE, BAUD, PRIO. About 18 minutes per N.
bench-lines: programs
	@command -v python3 >/dev/null || { $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3; }
	NS="$(NS)" NET=$(NET) ./bench/many_lines build

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-asan build-fuzz
