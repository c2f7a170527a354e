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
