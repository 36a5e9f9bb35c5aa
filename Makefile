# regmex: thin driver over CMake.
#   make deps    install missing Debian packages
#   make         build (release)
#   make test    deps + build + every test
#   make bench   deps + build + benchmarks
#   make demo    deps + build + the demo in Octave
#   make fuzz    deps + each fuzzer for FUZZ_SECONDS (default 300)
#   make dist    the Octave package build/regmex-<version>.tar.gz
#   make windows deps + build/windows/driftfield.mexw64 (MinGW-w64 cross build;
#                `make` and `make test` build it too)
#   make windows-dist  build/driftfield-<version>-win64.zip for MATLAB on Windows
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

FUZZ_SECONDS ?= 300
FUZZ_SHORT ?= 30

.PHONY: all build deps test bench demo fuzz sanitize dist windows windows-dist clean

all: build

deps:
	@sh tools/deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	sh tools/sanitize.sh
	sh tools/fuzz.sh $(FUZZ_SHORT)

dist:
	@sh tools/dist.sh

windows: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target regmex_windows -j $(JOBS)

windows-dist: windows
	@sh tools/windows_dist.sh $(BUILD)

sanitize: deps
	sh tools/sanitize.sh

fuzz: deps
	sh tools/fuzz.sh $(FUZZ_SECONDS)

bench: deps
	$(MAKE) build
	@sh tools/bench.sh $(BUILD)

demo: deps
	$(MAKE) build
	octave-cli --norc --quiet --no-history --no-window-system --eval "addpath('octave'); addpath('$(BUILD)/mex'); regmex_demo;"

clean:
	rm -rf $(BUILD) build-san build-fuzz out
