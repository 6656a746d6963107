# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
# ccache (installed by install-deps) makes a second build of the same sources, in another
# clone too, take seconds.
CCACHE := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# (Paths are hashed relative to the clone, and not the build folder of the first clone, so
# the debug information may name the folder of the clone that compiled a file first.)
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CCACHE)

.PHONY: all deps build program-only program run autostart no-autostart package test sanitize format fuzz demo \
	bench screenshot clean windows-deps windows-qt windows windows-package test-windows

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The program alone: what `make run` and `make autostart` need, without the tests and
# benchmarks that `make build` and `make test` compile too.
program-only: deps $(BUILD)/build.ninja
	@echo "Building the program only ($(BUILD)/vestrel): not the tests or benchmarks (make test builds those)."
	cmake --build $(BUILD) -j $(JOBS) --target vestrel

# `make run` runs a copy of the program in a folder of its own outside the build folder, where
# its config.ini and Command.log stay: `make clean` never deletes them.
PROGRAM_DIR ?= $(or $(XDG_DATA_HOME),$(HOME)/.local/share)/vestrel/program
program: program-only
	@mkdir -p "$(PROGRAM_DIR)"
	@cp $(BUILD)/vestrel "$(PROGRAM_DIR)/vestrel.new"
	@mv -f "$(PROGRAM_DIR)/vestrel.new" "$(PROGRAM_DIR)/vestrel"
	@# "Salva" writes only into a config.ini that exists: start with an empty, owner-only one.
	@[ -e "$(PROGRAM_DIR)/config.ini" ] || install -m 600 /dev/null "$(PROGRAM_DIR)/config.ini"
	@echo "Program folder: $(PROGRAM_DIR) (config.ini, Command.log)"

run: program
	scripts/run "$(PROGRAM_DIR)/vestrel"

# Start at login: the program of `make run` gets an XDG autostart entry; no-autostart removes it.
AUTOSTART_DIR ?= $(or $(XDG_CONFIG_HOME),$(HOME)/.config)/autostart
autostart: program
	@mkdir -p "$(AUTOSTART_DIR)"
	@scripts/autostart-entry "$(abspath $(PROGRAM_DIR))/vestrel" >"$(AUTOSTART_DIR)/vestrel.desktop.new"
	@mv -f "$(AUTOSTART_DIR)/vestrel.desktop.new" "$(AUTOSTART_DIR)/vestrel.desktop"
	@echo "Vestrel starts at login: $(AUTOSTART_DIR)/vestrel.desktop"

no-autostart:
	rm -f "$(AUTOSTART_DIR)/vestrel.desktop"

# The Debian package, build/vestrel_<version>-1_<arch>.deb.
package: build
	cmake --build $(BUILD) --target package

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
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESTREL_SANITIZE=ON $(CCACHE)

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
	  src/platform/codepage.cpp \
	  $$(pkg-config --cflags --libs Qt6Core) -o $(FUZZ_BUILD)/fuzz_privateprofile
	$(FUZZ_BUILD)/fuzz_privateprofile -runs=$(FUZZ_RUNS)

# The Windows edition, cross-built with MinGW-w64 against a Qt built once from Debian's own
# qt6-base source (scripts/build-qt-mingw; about 40 minutes on 2 cores the first time, kept in
# ~/.cache/vestrel) and tested under wine64.
WIN_BUILD ?= build-windows
MINGW_QT = $(shell scripts/build-qt-mingw --prefix)
windows-deps:
	@scripts/install-deps --windows

windows-qt: windows-deps
	scripts/build-qt-mingw

$(WIN_BUILD)/build.ninja: | windows-qt
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVESTREL_MINGW_QT=$(MINGW_QT) \
	  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/$(shell gcc -print-multiarch)/cmake \
	  -DVESTREL_STANDIN=$(CURDIR)/$(BUILD)/tds_standin \
	  $(CCACHE)

windows: windows-qt $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS)

# build-windows/vestrel-<version>-setup.exe (NSIS) and vestrel-<version>-windows.zip.
windows-package: windows
	cmake --build $(WIN_BUILD) --target windows-package

# The unit tests under wine64, then the setup program and the installed program end to end
# (against the TDS stand-in of the Linux build).
test-windows: windows-package deps $(BUILD)/build.ninja
	cmake --build $(BUILD) --target tds_standin -j $(JOBS)
	WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine tests/support/wine-run.sh cmd /c exit
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
