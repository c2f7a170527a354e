# One-word entry points. Both trees are built from the same sources:
#   build/x64 (native) and build/x86 (i386, -m32).
SHELL := /bin/bash
.DEFAULT_GOAL := all
.PHONY: all setup configure build test clean

all: build

setup:
	@scripts/setup

configure: setup
	@cmake --preset x64 >/dev/null
	@cmake --preset x86 >/dev/null

# x64 first: the x86 tree's tests run the x64 satemu.
build: configure
	@cmake --build --preset x64
	@cmake --build --preset x86

test: build
	ctest --preset x64
	ctest --preset x86

clean:
	rm -rf build

.PHONY: demo package install

# A whole shop day against satemu through the i386 satcli and library, in a
# temporary folder and a private mount namespace (scripts/demo).
demo: build
	@scripts/demo build/x64 build/x86

# Debian packages of both trees, collected in build/packages, then installed,
# run and purged in a scratch root (scripts/package-test).
package: build
	@scripts/setup package
	@rm -rf build/packages
	cpack --config build/x64/CPackConfig.cmake -B build/packages/x64
	cpack --config build/x86/CPackConfig.cmake -B build/packages/x86
	@mv build/packages/x64/*.deb build/packages/x86/*.deb build/packages/
	@rm -rf build/packages/x64 build/packages/x86
	@scripts/package-test build/packages
	@scripts/unit-boot-test build/packages || [ $$? -eq 77 ]

# Installs both trees under PREFIX (default /usr/local); DESTDIR is honoured.
PREFIX ?= /usr/local
install: build
	cmake --install build/x64 --prefix $(PREFIX)
	cmake --install build/x86 --prefix $(PREFIX)

# Fuzz targets (clang + libFuzzer, build/fuzz); see fuzz/README.md.
.PHONY: fuzz fuzz-smoke
fuzz:
	@scripts/fuzz build

fuzz-smoke:
	@scripts/fuzz smoke 60

.PHONY: bench
# Every performance figure, one line each (scripts/bench, docs/PERFORMANCE.md);
# the memory figure also measures the shipped pair, the i386 satcli and library.
bench: configure
	@cmake --build --preset x64 --target satbench satemu satcli torvane_sat_x64
	@cmake --build --preset x86 --target satcli torvane_sat_x86
	@scripts/bench

.PHONY: soak
# Several thousand mixed SAT calls against satemu with random faults (not in CI):
# descriptor count and memory at start and end must be flat (scripts/soak).
soak: configure
	@cmake --build --preset x64 --target satemu torvane_sat_x64
	@scripts/soak build/x64 $(or $(SOAK_CALLS),3000)

.PHONY: bench-extrato
# The extrato's figures: a 50-item sale rendered to ESC/POS and to PNG
# (bench/extrato_bench.cpp, docs/PERFORMANCE.md).
bench-extrato: configure
	@cmake --build --preset x64 --target extrato_bench
	@build/x64/bench/extrato_bench
.PHONY: bench-satd
# Figure 9 of docs/PERFORMANCE.md: satd in front of satemu against direct library calls.
bench-satd: configure
	@cmake --build --preset x64 --target satdbench
	@build/x64/bench/satdbench
