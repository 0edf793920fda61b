# Two entry points: `make demo` builds the plug-in and runs it in the project's VST 2 host,
# `make test` builds both configurations and runs every test. Both install what they need first.
JOBS    ?= $(shell nproc)
WIN     := build/win32
NATIVE  := build/native
IN      ?=
OUT     ?= out.wav

.PHONY: all setup win32 native demo test test-win32 test-native bench clean

all: win32

setup:
	@tools/setup.sh

win32: setup
	@cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DKBL_TIMEOUT_FACTOR=$$(grep -qx enabled /proc/sys/fs/binfmt_misc/kbl-i386 2>/dev/null && echo 4 || echo 1) >/dev/null
	@cmake --build $(WIN) -j $(JOBS)

native: setup
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Debug -DKBL_SANITIZE=ON >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

demo: win32
	@tools/demo.sh "$(WIN)" "$(IN)" "$(OUT)"

# Each run searches for a free display from its own starting number: runs from several checkouts
# at once would otherwise race for the same display and lose it when the other run ends.
test-win32: win32
	@cd $(WIN) && xvfb-run -a -n $$(( $$$$ % 400 + 100 )) -s "-screen 0 1280x1024x24" ../../tools/wine-session.sh ctest --output-on-failure --timeout 300 -j $(JOBS)

test-native: native
	@cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)

test: test-native test-win32

bench: win32
	@cmake -S . -B build/native-release -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/native-release -j $(JOBS)
	@tools/bench.sh

clean:
	rm -rf $(WIN) $(NATIVE) build/native-release
