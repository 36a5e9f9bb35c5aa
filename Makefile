# regmex: thin driver over CMake.
#   make deps    install missing Debian packages
#   make         build (release)
#   make test    deps + build + every test
#   make bench   deps + build + benchmarks
#   make demo    deps + build + the demo in Octave
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build deps test bench demo clean

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

bench: deps
	$(MAKE) build
	@sh tools/bench.sh $(BUILD)

demo: deps
	$(MAKE) build
	octave-cli --norc --quiet --no-history --no-window-system --eval "addpath('octave'); addpath('$(BUILD)/mex'); regmex_demo"

clean:
	rm -rf $(BUILD) out
