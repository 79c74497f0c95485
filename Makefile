# Thin wrapper over the CMake presets.
#   make run    install what is missing, build, start Kelvane on the simulated dimmer
#   make test   install, build, run every test headless
#   make asan   the same tests built with AddressSanitizer + UBSan
#   make bench  build and run the benchmarks
#   make package  the Debian package (build/default/kelvane_VERSION_ARCH.deb)
.PHONY: deps build run test test-native test-windows fuzz asan bench package clean

deps:
	bash scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j2

run: build
	./build/default/kelvane --simulator

test: deps test-native test-windows fuzz

test-native:
	cmake --preset default
	cmake --build --preset default -j2
	ctest --preset default

test-windows:
	@if [ -x scripts/test-windows ]; then bash scripts/test-windows; fi

fuzz:
	@if [ -f fuzz/CMakeLists.txt ]; then bash scripts/run-fuzz; fi

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j2
	ctest --preset asan

bench: build
	./build/default/bench/kelvane_core_bench

package: build
	cd build/default && cpack -G DEB

clean:
	rm -rf build

# The Windows installer (build/windows-app/Kelvane-VERSION-setup.exe); the
# first run builds Qt for Windows into /var/cache/kelvane.
.PHONY: package-windows
package-windows: deps
	bash scripts/package-windows
