# regmex: thin driver over CMake.
#   make deps    install the missing Debian packages the plug-ins and the demo need
#   make deps-test  also those of the tests, benchmarks, fuzzers, Windows build
#   make         build (release): the plug-ins, and the tests, benchmarks and
#                Windows build whose packages are installed
#   make demo    deps + the plug-ins' MEX files only + the demo in Octave
#   make test    deps-test + build + every test (a missing part is an error)
#   make bench   deps-test + build + benchmarks
#   make fuzz    deps-test + each fuzzer for FUZZ_SECONDS (default 300)
#   make dist    the Octave package build/regmex-<version>.tar.gz
#   make windows deps-test + build/windows/<plugin>.mexw64 for every plug-in
#                (MinGW-w64 cross build, OpenCV cross-built once per machine;
#                `make test` builds it too)
#   make windows-dist  build/regmex-<version>-win64.zip for MATLAB on Windows
#   make macos   deps + Zig + build/macos/<arch>/<plugin>.mexmaci64 and
#                .mexmaca64 for the plug-ins without OpenCV (cross build for
#                MATLAB on macOS; `make test` builds and checks it too)
#   make macos-dist  build/regmex-<version>-maci64.zip and -maca64.zip
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

FUZZ_SECONDS ?= 300
FUZZ_SHORT ?= 30

# The options that make a part required: a configure for `make test` fails
# where a plain one would skip.
REQUIRE_ALL = -DREGMEX_TESTS=ON -DREGMEX_BENCH=ON -DREGMEX_WINDOWS=ON -DREGMEX_MACOS=ON -DREGMEX_MACOS_OPENCV=OFF
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

.PHONY: all build deps deps-test test bench demo fuzz sanitize dist windows windows-dist macos macos-dist clean

all: build

deps:
	@sh tools/deps.sh demo

deps-test:
	@sh tools/deps.sh test

$(BUILD)/CMakeCache.txt:
	$(CONFIGURE)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: deps-test
	$(CONFIGURE) $(REQUIRE_ALL)
	$(MAKE) build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	sh tools/sanitize.sh
	sh tools/fuzz.sh $(FUZZ_SHORT)

dist:
	@sh tools/dist.sh

windows: deps-test
	$(CONFIGURE) -DREGMEX_WINDOWS=ON
	cmake --build $(BUILD) --target regmex_windows -j $(JOBS)

windows-dist: windows
	@sh tools/windows_dist.sh $(BUILD)

macos:
	@sh tools/deps.sh macos
	$(CONFIGURE) -DREGMEX_MACOS=ON -DREGMEX_MACOS_OPENCV=OFF
	cmake --build $(BUILD) --target regmex_macos -j $(JOBS)

macos-dist: macos
	@sh tools/macos_dist.sh $(BUILD)

sanitize: deps-test
	sh tools/sanitize.sh

fuzz: deps-test
	sh tools/fuzz.sh $(FUZZ_SECONDS)

bench: deps-test
	$(CONFIGURE) -DREGMEX_BENCH=ON
	$(MAKE) build
	@sh tools/bench.sh $(BUILD)

demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target regmex_mex -j $(JOBS)
	octave-cli --norc --quiet --no-history --no-window-system --eval "addpath('octave'); addpath('$(BUILD)/mex'); regmex_demo;"

clean:
	rm -rf $(BUILD) build-san build-fuzz out
