# Entry points of the project. Each target installs what it needs first.
#   make demo   build everything and run the demo host under Wine
#               (DB=mariadb: the application server on a private MariaDB)
#   make test   build both presets and run every test (native and under Wine)
#   make bench  build natively and print the benchmark ratios
#   make bench-scale  2,000,000 documents loaded by the real plug-in under
#               Wine (by hand; not part of make test)
#   make fuzz   build the libFuzzer targets (clang) and run each for a while
#   make soak   good and hostile clients, kill -9 of clients and server
.PHONY: setup native win32 win64 build test test-native test-win32 demo bench \
	bench-scale fuzz soak clean

setup:
	@scripts/setup.sh

native: setup
	@cmake --preset native >/dev/null
	@cmake --build --preset native

win32: setup
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32

# Only where the kernel runs no 32-bit programs, natively or through QEMU's
# emulator (scripts/wine32), the Wine tests and the demo run on the 64-bit
# build of the same sources.
win64: setup
	@cmake --preset win64 >/dev/null
	@cmake --build --preset win64

build: native win32
	@if [ "$$(scripts/wine-arch)" = win64 ]; then $(MAKE) --no-print-directory win64; fi

test: build
	@scripts/run-tests.sh

test-native: native
	@ctest --preset native

test-win32: win32
	@scripts/run-tests.sh win32

demo: build
	@DB=$(DB) scripts/demo.sh

bench: native
	@scripts/bench.sh

# The Windows build that runs under Wine here (the 32-bit one, or win64 where
# no 32-bit program runs at all) and the native server.
bench-scale: native
	@$(MAKE) --no-print-directory $$(scripts/wine-arch)
	@scripts/bench-scale.sh

# SKJK_FUZZ_SECONDS per target (default 60), SKJK_FUZZ_TARGETS to pick some.
fuzz:
	@scripts/setup.sh fuzz
	@scripts/fuzz.sh

# SKJK_SOAK_SECONDS (default 60); loopback only, not part of make test.
soak: native
	@scripts/soak.sh

clean:
	rm -rf build
