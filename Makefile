# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test sanitize format fuzz demo bench screenshot clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run $(BUILD)/vestrel

# The demo's folder goes when it ends; KEEP=1 keeps it.
KEEP ?= 0
demo: build
	VESTREL_DEMO_KEEP=$(KEEP) scripts/demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Every benchmark, one line per figure with its goal (about 90 s).
bench: build
	bench/run $(BUILD)

# docs/screenshot.png: the real window with its docked tray icon, taken by the end-to-end run.
screenshot: build
	VESTREL_E2E_SCREENSHOT=$(CURDIR)/docs/screenshot.png tests/e2e/e2e.sh $(BUILD)/vestrel $(BUILD)/tds_standin

$(SANITIZE_BUILD)/build.ninja: | deps
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESTREL_SANITIZE=ON

sanitize: deps $(SANITIZE_BUILD)/build.ninja
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs -r clang-format -i

# The INI engine under libFuzzer, compiled with clang apart from the normal build.
FUZZ_BUILD ?= build-fuzz
FUZZ_RUNS ?= 1000000
fuzz: deps
	mkdir -p $(FUZZ_BUILD)
	clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fPIC -Isrc \
	  tests/fuzz/fuzz_privateprofile.cpp src/platform/privateprofile.cpp src/platform/textfile.cpp \
	  $$(pkg-config --cflags --libs Qt6Core) -o $(FUZZ_BUILD)/fuzz_privateprofile
	$(FUZZ_BUILD)/fuzz_privateprofile -runs=$(FUZZ_RUNS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
