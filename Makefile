# sipline: build, test and run. `make test` and `make demo` are the only commands a fresh
# Debian 12 machine needs (as root): each installs what is missing and builds first.
JOBS     ?= $(shell nproc)
BUILD    ?= build
ASAN     ?= build-asan
TSAN     ?= build-tsan
FUZZ     ?= build-fuzz
FUZZ_SECONDS ?= 10
CMAKE_GEN := -G Ninja
CTEST    := ctest --output-on-failure -j $(JOBS)

.PHONY: all deps build test unit asan tsan fuzz fuzz-long bench demo hunt-demo run format clean

all: build

deps:
	@scripts/deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Every unit and integration test, then the same again under ASan+UBSan, then a short fuzz run.
test: build
	JOBS=$(JOBS) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/test.sh

unit: build
	cd $(BUILD) && $(CTEST) -LE integration

asan: deps
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSIPLINE_BENCH=OFF \
	  -DSIPLINE_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-O1
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 $(CTEST)

tsan: deps
	cmake -S . -B $(TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DSIPLINE_BENCH=OFF \
	  -DSIPLINE_SANITIZE=thread -DCMAKE_CXX_FLAGS=-O1
	cmake --build $(TSAN) -j $(JOBS)
	cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(CTEST)

fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSIPLINE_FUZZ=ON
	cmake --build $(FUZZ) -j $(JOBS)
	fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

fuzz-long:
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=300

bench: build
	scripts/bench.sh $(BUILD)

demo: build
	scripts/demo.sh $(BUILD)

hunt-demo: build
	scripts/hunt.sh demo

run: build
	scripts/run.sh $(BUILD) $(CONFIG)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ)
