# Vantrel: `make run` installs what is missing, builds and starts the program. `make test` builds
# and runs every test twice: once in the normal build and once built with AddressSanitizer and
# UndefinedBehaviorSanitizer. `make demo` converts a generated movie into demo/ without a display or
# a sound card of its own. `make fuzz` builds the libFuzzer targets with clang in build-fuzz/ and runs
# each for FUZZ_SECONDS; any crash, leak, timeout or running out of memory fails it. `make package`
# makes the Debian package in build/.

JOBS ?= $(shell nproc)
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = swf_reader swf_player wave_edit avi_writer encoder_progress

.PHONY: all deps build run demo package test test-normal test-sanitize bench soak fuzz clean

all: build

deps:
	scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(FUZZ_BUILD)/CMakeCache.txt: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON \
		-DVANTREL_TESTS=OFF -DVANTREL_BENCH=OFF

$(SANITIZE_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON -DVANTREL_BENCH=OFF

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/vantrel

package: build
	cmake --build $(BUILD) --target package

demo: build
	$(BUILD)/tests/e2e/vantrel-demo demo

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps $(SANITIZE_BUILD)/CMakeCache.txt
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

test: test-normal test-sanitize

fuzz: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz-seeds $(addprefix fuzz_,$(FUZZ_TARGETS))
	scripts/run-fuzzers $(FUZZ_BUILD)/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# A 10-minute screen-recording conversion in the real window (SOAK_SECONDS to change it).
soak: build
	$(BUILD)/bench/soak

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
