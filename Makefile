# Set-up, build, tests and the demo; every target installs what it needs first.
BUILD ?= build
JOBS ?= 2
FAMILY ?= winxp

.PHONY: all setup configure build test demo bench clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw32.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS) -- --no-print-directory

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)


demo: build
	@bash demo/demo.sh $(BUILD) $(FAMILY)

bench: build
	@cmake --build $(BUILD) --target bench -- --no-print-directory

clean:
	rm -rf $(BUILD)
