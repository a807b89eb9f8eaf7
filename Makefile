# Two commands do everything on a fresh Debian 12 machine:
#   make demo   builds a sample package and runs it under Wine
#   make test   builds and runs every test
.PHONY: all deps configure build build64 release test demo bench clean

PRESET ?= win32
BUILD_DIR := build/$(PRESET)

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

clean:
	-bash scripts/winenv.sh stop
	rm -rf build
