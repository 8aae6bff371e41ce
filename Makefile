# Thin wrapper over CMake for newcomers: `make run` and `make test` install
# what is missing, configure, build, and then start the program or run the tests.

BUILD_DIR ?= build
JOBS      ?= $(shell nproc)
CMAKE_ARGS ?=
# The simulated bench folder of `make demo` (see scripts/bench).
DEMO_BENCH ?= $(abspath $(BUILD_DIR))/demo-bench

.PHONY: all deps configure build run test clean package demo bench test-asan test-tsan soak

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/src/kestrova

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# A Debian package in the build folder: sudo apt-get install ./$(BUILD_DIR)/kestrova_*.deb
package: build
	cmake --build $(BUILD_DIR) --target package

# Kestrova on a simulated bench seeded with two fresh devices and a sample
# configuration; plug and unplug more with scripts/bench.
demo: build
	BUILD_DIR=$(BUILD_DIR) KESTROVA_BENCH=$(DEMO_BENCH) ./scripts/bench seed
	KESTROVA_BENCH=$(DEMO_BENCH) ./$(BUILD_DIR)/src/kestrova

# Performance figures (takes about two minutes; asserts nothing).
bench: build
	./bench/run $(BUILD_DIR)

# Checking builds, each in a folder of its own; any sanitizer report fails.
# test-asan: the whole suite under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer. A hostile configuration file can make Qt's
# QSettings ask for tens of gigabytes at once; malloc refuses that and Qt
# copes, so ASan is to refuse it too (allocator_may_return_null) instead of
# ending the run.
ASAN_DIR ?= build-asan
ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:allocator_may_return_null=1 \
            UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

test-asan: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_SANITIZE=address,undefined
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && $(ASAN_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# test-tsan: where threads meet (bench, watcher, device lock, production
# bench, soak, shutdown) under ThreadSanitizer. Qt's libraries are not
# instrumented, so TSan is to check only the calls our own code makes
# (ignore_noninstrumented_modules); without it, it reports Qt's own inner
# workings, such as QtTest's watchdog thread and QThread's end.
TSAN_DIR ?= build-tsan
TSAN_TESTS := test_d2xx_simbench test_watcher test_readwrite test_production test_soak test_shutdown
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:ignore_noninstrumented_modules=1
empty :=
space := $(empty) $(empty)

test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_SANITIZE=thread
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_DIR) && $(TSAN_ENV) QT_QPA_PLATFORM=offscreen \
	  ctest --output-on-failure -j $(JOBS) -R '^($(subst $(space),|,$(TSAN_TESTS)))$$'

# A long soak of the production bench (300000 steps, about ten minutes); it
# prints its steps, the faults injected and the invariants checked (-silent
# keeps the offscreen platform's warnings about every prompt out of it, and
# QtTest's watchdog, which ends a test function after five minutes, gets two
# hours). The seed changes from run to run unless given: make soak SOAK_SEED=42.
SOAK_STEPS ?= 300000
SOAK_SEED ?= $(shell date +%s)

soak: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=7200000 \
	  KESTROVA_SOAK_STEPS=$(SOAK_STEPS) KESTROVA_SOAK_SEED=$(SOAK_SEED) \
	  ./tests/gui/test_soak productionBench -silent

clean:
	rm -rf $(BUILD_DIR)
