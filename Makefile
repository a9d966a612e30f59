# Front door. Every target installs what is missing first (scripts/setup.sh).
BUILD   ?= build
HOST    := $(BUILD)/host
WIN     := $(BUILD)/win
PREFIX  := $(abspath $(BUILD))/wineprefix
JOBS    ?= 2

.PHONY: all setup host win dist test demo clean

all: dist

setup:
	@scripts/setup.sh

host: setup
	@cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(HOST) -j$(JOBS)

win: host
	@cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DUNINSTPACK_HOST=$(abspath $(HOST))/tools/uninstpack/uninstpack >/dev/null
	@cmake --build $(WIN) -j$(JOBS)

dist: win
	@mkdir -p dist
	@cp $(WIN)/uninst.exe $(WIN)/tools/uninstpack/uninstpack.exe $(HOST)/tools/uninstpack/uninstpack dist/
	@echo "dist/: uninst.exe ($$(stat -c %s dist/uninst.exe) bytes), uninstpack, uninstpack.exe"

test: dist
	@scripts/run-tests.sh $(BUILD)

demo: dist
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) dist
