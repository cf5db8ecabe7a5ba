# The two commands of the README: `make demo` and `make test`. Each first installs what is missing.
JOBS ?= 2

.PHONY: deps build test demo win32 bench clean

deps:
	@scripts/ensure-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# wine32 is what lets Wine run the i686 programs, the deliverable; the suite runs them there.
# A machine that cannot install it runs the x86-64 build under Wine instead, and says so.
HAVE_WINE32 = [ "$$(dpkg-query -W -f='$${db:Status-Status}' wine32:i386 2>/dev/null)" = installed ]

# The Windows programs first: the suite runs them under Wine.
test:
	@scripts/ensure-deps --wine32
	$(MAKE) win32
	@if $(HAVE_WINE32); then \
	    echo "Wine suites: the i686 programs (build-win32/bin) under 32-bit Wine"; \
	    dir=build-win32/bin; \
	else \
	    echo "Wine suites: wine32 is not installed here, so the x86-64 build (build-win64/bin) runs under Wine instead of the i686 deliverable"; \
	    $(MAKE) win64 || exit 1; \
	    dir=build-win64/bin; \
	fi; \
	echo "cmake --preset ci -DWINDOWS_PROGRAMS_DIR=$(CURDIR)/$$dir"; \
	cmake --preset ci -DWINDOWS_PROGRAMS_DIR=$(CURDIR)/$$dir
	cmake --build --preset ci -j $(JOBS)
	ctest --preset ci -j $(JOBS)
	$(MAKE) test-asan
	$(MAKE) fuzz

# The x86-64 Windows programs, for a Wine without wine32.
.PHONY: win64
win64: deps
	cmake --preset win64
	cmake --build --preset win64 -j $(JOBS)

win32: deps
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)
	scripts/check-windows-exe build-win32/bin/PORTBOOT.EXE build-win32/bin/CONPROXY.EXE
	scripts/check-windows-package

# The Windows zip in build-win32/, the .tar.gz and the .deb in build/.
.PHONY: package
package: deps
	cmake --preset win32
	cmake --build --preset win32 --target package -j $(JOBS)
	cmake --preset default
	cmake --build --preset default --target package -j $(JOBS)

demo: build
	scripts/demo

bench: build
	bench/run build/bin

# The fuzzers, FUZZ_SECONDS (default 60) each on a scratch copy of fuzz/corpus.
.PHONY: fuzz
fuzz: deps
	scripts/fuzz-smoke

# The whole suite again with AddressSanitizer and UBSan (the programs the tests start too), in
# build-asan/; any finding fails the run.
.PHONY: test-asan
test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

clean:
	rm -rf build build-win32 build-win64 build-asan build-fuzz
