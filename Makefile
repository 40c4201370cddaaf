# SPDX-License-Identifier: GPL-3.0-or-later
# The two set-up commands of the README, and a few conveniences.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test demo sanitize fuzz bench clean

all: build

deps:
	./scripts/install-deps.sh

configure:
	cmake --preset default

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Installs the dependencies, builds, and runs every test.
test: deps
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The main job on the bundled demo: compose a demo game image and rip it.
demo: deps
	$(MAKE) build
	./scripts/demo.sh $(BUILD)

# The whole test suite built with AddressSanitizer and UBSan (no GUI: Qt is not built
# with the sanitizers). Any sanitizer report fails the test that caused it.
sanitize: deps
	cmake --preset sanitize
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# Every libFuzzer target (fuzz/fuzz_*.cpp; only they and the libraries they link are
# built) for FUZZ_SECONDS each; fails on any finding.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := $(basename $(notdir $(wildcard fuzz/fuzz_*.cpp)))
fuzz: deps
	cmake --preset fuzz
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	./scripts/run-fuzzers.sh build-fuzz $(FUZZ_SECONDS)

bench: build
	./scripts/run-bench.sh $(BUILD)

clean:
	rm -rf build build-sanitize build-fuzz
