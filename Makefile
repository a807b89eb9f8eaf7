# Two commands do everything on a fresh Debian 12 machine:
#   make demo   builds a sample package and runs it under Wine
#   make test   builds and runs every test
.PHONY: all deps configure build build64 test demo bench fuzz clean

PRESET ?= win32
BUILD_DIR := build/$(PRESET)
# make fuzz: the long run of the mutation fuzzer (make test runs 49 cases).
FUZZ_CASES ?= 5000
FUZZ_SEED ?= 1
FUZZ_JOBS ?= 6

all: build

deps:
	@bash scripts/deps.sh
	@bash scripts/minizip.sh

configure: deps
	@[ -f $(BUILD_DIR)/build.ninja ] || cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

build64:
	$(MAKE) build PRESET=win64

test: build
	ctest --preset $(PRESET)

demo: build
	bash scripts/demo.sh

bench: build
	bash scripts/bench.sh
	bash scripts/bench-downloads.sh

fuzz: build
	python3 scripts/fuzz.py --cases $(FUZZ_CASES) --seed $(FUZZ_SEED) --jobs $(FUZZ_JOBS)

clean:
	-bash scripts/winenv.sh stop
	rm -rf build
