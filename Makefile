# The two commands of the README: `make demo` and `make test`. Each first installs what is missing.
JOBS ?= 2

.PHONY: deps build test demo win32 bench clean

deps:
	@scripts/ensure-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: deps
	cmake --preset ci
	cmake --build --preset ci -j $(JOBS)
	ctest --preset ci -j $(JOBS)
	$(MAKE) win32

win32: deps
	cmake --preset win32
	cmake --build --preset win32 -j $(JOBS)
	scripts/check-windows-exe build-win32/bin/PORTBOOT.EXE build-win32/bin/CONPROXY.EXE

demo: build
	scripts/demo

clean:
	rm -rf build build-win32 build-win64
