# Vantrel: `make run` installs what is missing, builds and starts the program. `make test` builds
# and runs every test twice: once in the normal build and once built with AddressSanitizer and
# UndefinedBehaviorSanitizer. `make demo` converts a generated movie into demo/ without a display or
# a sound card of its own.

JOBS ?= $(shell nproc)
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize

.PHONY: all deps build run demo test test-normal test-sanitize bench soak clean

all: build

deps:
	scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(SANITIZE_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON -DVANTREL_BENCH=OFF

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/app/vantrel

demo: build
	$(BUILD)/tests/e2e/vantrel-demo demo

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps $(SANITIZE_BUILD)/CMakeCache.txt
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j $(JOBS)

test: test-normal test-sanitize

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

# A 10-minute screen-recording conversion in the real window (SOAK_SECONDS to change it).
soak: build
	$(BUILD)/bench/soak

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
