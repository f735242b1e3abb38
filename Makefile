# Quick start:
#   make demo   - install what the build needs, build, run the main job on a sample SQLite database
#   make test   - install what the build and the tests need, build, run every test
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all setup build test demo clean

all: build

setup:
	scripts/setup.sh

build: setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	scripts/test.sh $(BUILD)

demo: build
	scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
