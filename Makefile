# Set-up, build, tests and the demo; every target installs what it needs first.
#   ARCH=i686|x86_64   which build (default: build i686; test, demo and bench
#                      pick what this machine can run, see scripts/make.sh)
JOBS ?= 2
FAMILY ?= winxp
ARCH ?=
export JOBS FAMILY ARCH

.PHONY: all setup build test demo bench fuzz clean

all: build

setup:
	@bash scripts/setup.sh

build test demo bench fuzz: setup
	@bash scripts/make.sh $@

clean:
	rm -rf build build-x86_64
