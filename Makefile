# Front door. Every target installs what is missing first (scripts/setup.sh).
BUILD   ?= build
HOST    := $(BUILD)/host
WIN     := $(BUILD)/win
WINE_PREFIX := $(abspath $(BUILD))/wineprefix
JOBS    ?= 2
# TESTS=OFF builds only what ships (the release check does).
TESTS   ?= ON

.PHONY: all setup host win dist test demo bench soak install nsis-example release release-check clean

all: dist

setup:
	@scripts/setup.sh

host: setup
	@cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=$(TESTS) >/dev/null
	@cmake --build $(HOST) -j$(JOBS)

win: host
	@cmake -S . -B $(WIN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=$(TESTS) \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DUNINSTPACK_HOST=$(abspath $(HOST))/tools/uninstpack/uninstpack >/dev/null
	@cmake --build $(WIN) -j$(JOBS)

dist: win
	@mkdir -p dist
	@cp $(WIN)/uninst.exe $(WIN)/tools/uninstpack/uninstpack.exe $(HOST)/tools/uninstpack/uninstpack dist/
	@echo "dist/: uninst.exe ($$(stat -c %s dist/uninst.exe) bytes), uninstpack, uninstpack.exe"

# make install PREFIX=DIR: the generators and the stub in one folder, where both
# generators find the stub without --stub, and uninstpack on the PATH; the NSIS
# header and the CMake function beside them, where they find the programs.
PREFIX ?= /usr/local
install: dist
	@install -d $(PREFIX)/lib/qorvand $(PREFIX)/bin
	@install -m 755 dist/uninstpack dist/uninstpack.exe dist/uninst.exe $(PREFIX)/lib/qorvand/
	@install -m 644 integrations/nsis/Qorvand.nsh cmake/Qorvand.cmake $(PREFIX)/lib/qorvand/
	@ln -sf ../lib/qorvand/uninstpack $(PREFIX)/bin/uninstpack
	@echo "installed: $(PREFIX)/lib/qorvand/{uninstpack,uninstpack.exe,uninst.exe,Qorvand.nsh,Qorvand.cmake}, $(PREFIX)/bin/uninstpack"

# dist/release: the Windows zip, the Debian package and SHA256SUMS, the same
# bytes from the same commit. release-check builds a commit (default HEAD)
# twice in fresh folders and compares: make release-check [COMMIT=...].
release: dist
	@scripts/release.sh dist

release-check: setup
	@scripts/release-check.sh $(COMMIT)

# The NSIS example (examples/nsis): the sample application's setup program,
# built by makensis as part of the Windows build.
nsis-example: dist
	@cp $(WIN)/examples/nsis/qorvand-sample-setup.exe dist/
	@echo "dist/qorvand-sample-setup.exe ($$(stat -c %s dist/qorvand-sample-setup.exe) bytes)"

# The fuzzers' committed corpora are replayed first (host, sanitizers).
test: dist fuzz-replay
	@scripts/run-tests.sh $(BUILD)

# DEMO_FAMILY=win10x64 runs it on 64-bit Windows (a 64-bit prefix of its own).
demo: dist
	@scripts/demo.sh $(BUILD)

bench: dist
	@bench/run.sh

# The safety property on many generated cases, in every platform family (the
# 64-bit one in its own prefix):
# make soak SOAK_SEED=1 SOAK_COUNT=5000 (the test suite runs 40 with a fixed seed).
SOAK_SEED  ?= 20240607
SOAK_COUNT ?= 1000
SOAK_RUN = ctest --test-dir $(WIN) -R "^stage_" >/dev/null && cd "$$WINEPREFIX/drive_c" && \
	    for family in $(1); do echo "soak: $$family, seed $(SOAK_SEED), $(SOAK_COUNT) cases"; \
	        QV_FAMILY=$$family QV_SOAK_SEED=$(SOAK_SEED) QV_SOAK_COUNT=$(SOAK_COUNT) \
	        wine $(abspath $(WIN))/tests/e2e/e2e_tests.exe --gtest_filter="Soak.*" --gtest_brief=1 || exit 1; done
soak: dist
	@scripts/with-wine.sh $(WINE_PREFIX) -- sh -c '$(call SOAK_RUN,win98 winxp win7)'
	@scripts/with-wine.sh $(WINE_PREFIX)64 -- sh -c '$(call SOAK_RUN,win10x64)'

# Fuzzing (host, clang with libFuzzer and sanitizers): a build of its own.
# New inputs go to build/fuzz/corpus; the committed seeds stay as they are.
FUZZ         := $(BUILD)/fuzz
FUZZ_SECONDS ?= 600
FUZZ_TARGETS := records_fuzzer:4096 font_name_fuzzer:2048

.PHONY: fuzz fuzz-build fuzz-replay

fuzz-build: setup
	@CC=clang CXX=clang++ cmake -S tests/fuzz -B $(FUZZ) >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS)

fuzz: fuzz-build
	@set -e; for target in $(FUZZ_TARGETS); do t=$${target%%:*}; len=$${target##*:}; \
	    mkdir -p $(FUZZ)/corpus/$$t $(FUZZ)/artifacts; \
	    echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	    $(FUZZ)/$$t $(FUZZ)/corpus/$$t tests/fuzz/corpus/$$t -max_len=$$len \
	        -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	        -artifact_prefix=$(FUZZ)/artifacts/$$t-; \
	done

fuzz-replay: fuzz-build
	@set -e; for target in $(FUZZ_TARGETS); do t=$${target%%:*}; \
	    log=$(FUZZ)/replay-$$t.log; \
	    $(FUZZ)/$$t tests/fuzz/corpus/$$t -runs=0 -artifact_prefix=$(FUZZ)/ >$$log 2>&1 \
	        || { cat $$log; echo "fuzz-replay: $$t failed"; exit 1; }; \
	    echo "fuzz-replay: $$t: $$(tail -1 $$log)"; \
	done

clean:
	rm -rf $(BUILD) dist
