# Two commands do everything on a fresh Debian 12 machine:
#   make demo   builds a sample package and runs it under Wine
#   make test   builds and runs every test
.PHONY: all deps configure build build32 build64 release dist test demo bench fuzz clean

# Both architectures are always built: the packer of either makes packages
# on either launcher. make test runs the suites this machine can execute
# (scripts/arches.sh): x86 and x64 where 32-bit code runs, else x64 alone.
PRESETS ?= win32 win64
# make fuzz: the long run of the mutation fuzzer (make test runs 49 cases).
FUZZ_CASES ?= 5000
FUZZ_SEED ?= 1
FUZZ_JOBS ?= 6

all: build

deps:
	@bash scripts/deps.sh
	@bash scripts/minizip.sh

configure: deps
	@for p in $(PRESETS); do [ -f build/$$p/build.ninja ] || cmake --preset $$p || exit 1; done

build: configure
	@for p in $(PRESETS); do cmake --build --preset $$p || exit 1; done
	@bash scripts/stubs.sh

build32:
	$(MAKE) build PRESETS=win32

build64:
	$(MAKE) build PRESETS=win64

# The shipping programs: build/release/bin (launcher.exe stripped, its
# symbols in launcher.debug; packer.exe embeds that launcher).
release:
	$(MAKE) build PRESETS="release release64"

# The publisher's kit: build/dist/stowaway-VERSION.zip with the packer and
# the launchers of both architectures, the languages, the wrappers that run
# them from Linux and the docs (scripts/dist.py lists the layout).
dist: build
	python3 scripts/dist.py

test: build
	@bash scripts/test.sh

demo: build
	bash scripts/demo.sh

# make bench BIG=1: a 1 GiB payload instead of 201 MiB. Each architecture
# this machine executes, one after the other.
bench: build
	@for a in $$(bash scripts/arches.sh); do \
	  bin=build/win32/bin; [ $$a = x64 ] && bin=build/win64/bin; \
	  STOWAWAY_BIN=$$PWD/$$bin BIG=$(BIG) bash scripts/bench.sh || exit 1; \
	done
	bash scripts/bench-downloads.sh

fuzz: build
	python3 scripts/fuzz.py --cases $(FUZZ_CASES) --seed $(FUZZ_SEED) --jobs $(FUZZ_JOBS)

clean:
	-bash scripts/winenv.sh stop
	rm -rf build
