# Two commands do everything on a fresh Debian 12 machine:
#   make demo   builds a sample package and runs it under Wine
#   make test   builds and runs every test
.PHONY: all deps configure build build64 release test demo bench fuzz clean

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

# The shipping programs: build/release/bin (launcher.exe stripped, its
# symbols in launcher.debug; packer.exe embeds that launcher).
release:
	$(MAKE) build PRESET=release

test: build
	ctest --preset $(PRESET)

demo: build
	bash scripts/demo.sh

# make bench BIG=1: a 1 GiB payload instead of 201 MiB.
bench: build
	BIG=$(BIG) bash scripts/bench.sh
	bash scripts/bench-downloads.sh

fuzz: build
	python3 scripts/fuzz.py --cases $(FUZZ_CASES) --seed $(FUZZ_SEED) --jobs $(FUZZ_JOBS)

clean:
	-bash scripts/winenv.sh stop
	rm -rf build
