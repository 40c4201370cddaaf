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

sanitize: deps
	cmake --preset sanitize
	cmake --build build-sanitize -j $(JOBS)
	ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

fuzz: deps
	cmake --preset fuzz
	cmake --build build-fuzz -j $(JOBS)
	./scripts/run-fuzzers.sh build-fuzz 20

bench: build
	./scripts/run-bench.sh $(BUILD)

clean:
	rm -rf build build-sanitize build-fuzz
