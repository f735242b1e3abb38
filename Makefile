# Quick start:
#   make demo   - install what the build needs, build, run the main job on a sample SQLite database
#   make test   - install what the build and the tests need, build, run every test
#   make test-sanitize - the same tests, built under AddressSanitizer and
#                  UndefinedBehaviorSanitizer in build-asan/ (any report fails the run)
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup build test test-sanitize demo clean

all: build

setup:
	scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	scripts/test.sh $(BUILD)

test-sanitize: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVL_SANITIZE=ON
	cmake --build build-asan -j$(JOBS)
	ASAN_OPTIONS=abort_on_error=0:detect_leaks=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	scripts/test.sh build-asan

demo: build
	scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-asan
