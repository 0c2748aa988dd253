# The two commands of the README: `make run` and `make test`.
# Both install missing system packages, configure and build into build/.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DTARVIK_WERROR=ON
endif

.PHONY: all deps configure build run screenshot bench bench-all test sanitize fuzz clean package

all: build

deps:
	@tools/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Opens the window with the sample archive the project ships.
run: build
	@$(BUILD_DIR)/cli/tarvik-cli --version
	@$(BUILD_DIR)/app/tarvik resources/Beispiel.zip

# The README's picture of the window (offscreen, German number format), with
# the sample archive opened from a neutral folder: the status bar shows its path.
SHOT_DIR ?= /tmp/Beispiele
screenshot: build
	@mkdir -p $(SHOT_DIR) && cp resources/Beispiel.zip $(SHOT_DIR)/Beispiel.zip
	@LANG=de_DE.UTF-8 QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/app/tarvik --screenshot docs/screenshot.png $(SHOT_DIR)/Beispiel.zip 2>/dev/null; \
	  status=$$?; rm -f $(SHOT_DIR)/Beispiel.zip; rmdir $(SHOT_DIR) 2>/dev/null; exit $$status

# Opening 100,000 entries (not part of `make test`).
bench: build
	@bench/open-100k.sh $(BUILD_DIR)

# Every benchmark row against its peers in one run (20-40 minutes; bench/all.sh).
bench-all: build
	@cmake --build $(BUILD_DIR) -j $(JOBS) --target zedrive tarvik-make-many
	@bench/all.sh $(BUILD_DIR)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The Debian package: $(BUILD_DIR)/tarvik_VERSION_ARCH.deb (apt install ./that.deb).
package: build
	@cd $(BUILD_DIR) && cpack -G DEB

# Tests under AddressSanitizer and UndefinedBehaviorSanitizer, in their own build folder.
sanitize:
	@$(MAKE) test BUILD_DIR=build-asan BUILD_TYPE=Debug CMAKE_FLAGS="$(CMAKE_FLAGS) -DTARVIK_SANITIZE=ON"

# libFuzzer targets (clang), in their own build folder.
fuzz: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTARVIK_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

clean:
	rm -rf build build-asan build-fuzz
