# The two commands of the README: `make demo` and `make test`. Each first installs what is missing.
JOBS ?= 2

.PHONY: deps build test demo win32 bench clean

deps:
	@scripts/ensure-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# The Windows programs first: the suite runs them under Wine. The i686 ones, the deliverable,
# where 32-bit Wine starts (wine32 is installed for that); elsewhere the x86-64 ones, and
# scripts/wine-build says why in one line.
test:
	@scripts/ensure-deps --wine32
	$(MAKE) win32
	@choice=$$(scripts/wine-build) || exit 1; \
	dir=$${choice% *}; wine=$${choice#* }; \
	if [ "$$dir" = build-win64/bin ]; then $(MAKE) win64 || exit 1; fi; \
	echo "cmake --preset ci -DWINDOWS_PROGRAMS_DIR=$(CURDIR)/$$dir -DWINE_PROGRAM=$$wine"; \
	cmake --preset ci -DWINDOWS_PROGRAMS_DIR=$(CURDIR)/$$dir -DWINE_PROGRAM=$$wine
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

# Only the four Linux programs and what `cmake --install` puts beside them (the client library,
# the Debian changelog), with only their build dependencies: no tests, no benchmarks, no Windows
# programs. A build directory of its own (DEMO_DIR), so that build/ keeps the whole tree. Each
# step is one line; cmake's and the compiler's output go to a log that a failure shows whole.
DEMO_DIR ?= build-demo
DEMO_TARGETS = portboot conproxy conclient devsim conproxy_client gzipped_documents
demo:
	@scripts/ensure-deps --demo
	@mkdir -p $(DEMO_DIR)
	@printf 'Building portboot, conproxy, conclient and devsim in %s/ (log: %s) ... ' \
	    '$(DEMO_DIR)' '$(DEMO_DIR)/build.log'
	@{ cmake -S . -B $(DEMO_DIR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DBENCH=OFF && \
	   cmake --build $(DEMO_DIR) -j $(JOBS) --target $(DEMO_TARGETS) -- --no-print-directory; \
	 } >$(DEMO_DIR)/build.log 2>&1 || { echo failed; cat $(DEMO_DIR)/build.log; exit 1; }
	@echo done
	@BIN=$(DEMO_DIR)/bin scripts/demo

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
	rm -rf build $(DEMO_DIR) build-win32 build-win64 build-asan build-fuzz
