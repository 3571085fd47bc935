# ORV printer utility: orvcomms.dll and orvstsn.exe, cross-built with
# MinGW-w64 for 32-bit Windows (shipped) and 64-bit Windows (tested under
# Wine), plus native test peers. See README.md and docs/building.md.
BUILD ?= build
JOBS  ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all setup win32 win64 host dist examples test demo bench clean

all: host win32 win64

setup:
	@scripts/setup.sh

$(BUILD)/win32/CMakeCache.txt:
	cmake -S . -B $(BUILD)/win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	    -DORV_HOST_BIN=$(abspath $(BUILD))/host/bin
$(BUILD)/win64/CMakeCache.txt:
	cmake -S . -B $(BUILD)/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	    -DORV_HOST_BIN=$(abspath $(BUILD))/host/bin
$(BUILD)/host/CMakeCache.txt:
	cmake -S . -B $(BUILD)/host $(CMAKE_FLAGS)

win32: $(BUILD)/win32/CMakeCache.txt
	cmake --build $(BUILD)/win32 -j $(JOBS)
win64: $(BUILD)/win64/CMakeCache.txt
	cmake --build $(BUILD)/win64 -j $(JOBS)
host: $(BUILD)/host/CMakeCache.txt
	cmake --build $(BUILD)/host -j $(JOBS)

# dist/win32 and dist/win64: the DLL, its header, .def file and import
# libraries, orvstsn.exe, orvctl.exe and README.txt (what each file is);
# the same files as dist/orv-utility-VERSION-win32.zip and -win64.zip,
# VERSION being the project's version in CMakeLists.txt; and the
# installers dist/orv-utility-VERSION-win32.msi and -win64.msi
# (installer/build-msi.sh).
dist: win32 win64
	rm -rf dist
	for tree in win32 win64; do \
	    cmake --install $(BUILD)/$$tree --prefix dist/$$tree && \
	    version=$$(cat $(BUILD)/$$tree/version.txt) && \
	    (cd dist/$$tree && cmake -E tar cf ../orv-utility-$$version-$$tree.zip --format=zip *) && \
	    installer/build-msi.sh $$version $$tree dist/$$tree dist/orv-utility-$$version-$$tree.msi \
	    || exit 1; \
	done

# The sample programs of examples/, built for both builds from dist/ alone
# (header and import library), as a user of a package builds them, into
# build/examples/win32 and win64, each with orvcomms.dll beside them.
examples: dist
	$(MAKE) -C examples DIST=$(abspath dist/win32) OUT=$(abspath $(BUILD))/examples/win32 \
	    CC=i686-w64-mingw32-gcc
	$(MAKE) -C examples DIST=$(abspath dist/win64) OUT=$(abspath $(BUILD))/examples/win64 \
	    CC=x86_64-w64-mingw32-gcc

test: setup
	$(MAKE) all dist examples
	scripts/run-tests.sh

demo: setup
	$(MAKE) all dist
	scripts/demo.sh

bench: setup
	$(MAKE) all
	scripts/bench.sh

clean:
	rm -rf $(BUILD) dist
