# Thin wrapper over the CMake presets. Without make on the machine, ./make.sh
# installs it and then runs make with the same arguments.
#   make run      install what building and running need, build, start Kelvane on the simulated dimmer
#   make test     install the test tools too, build, run every test headless
#   make asan     the tests built with AddressSanitizer + UBSan
#   make bench    build and run every benchmark
#   make package  the Debian package (build/default/kelvane_VERSION_ARCH.deb), checked by lintian
# Each target installs its own packages (scripts/install-deps GROUP...).
DEPS = bash scripts/install-deps
.PHONY: run build test test-native test-release test-clang test-windows fuzz asan bench package clean

run:
	$(DEPS) run
	cmake --preset default
	cmake --build --preset default -j2 --target kelvane
	./build/default/kelvane --simulator

build:
	$(DEPS) run package
	cmake --preset default
	cmake --build --preset default -j2

test:
	$(DEPS) run test windows
	$(MAKE) test-native test-release test-clang test-windows fuzz

test-native:
	cmake --preset default
	cmake --build --preset default -j2
	ctest --preset default

# A packager's build: Release with Debian's compiler and linker flags.
test-release:
	CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" cmake --preset release
	cmake --build --preset release -j2
	ctest --preset release

test-clang:
	cmake --preset clang
	cmake --build --preset clang -j2
	ctest --preset clang

test-windows:
	@if [ -x scripts/test-windows ]; then bash scripts/test-windows; fi

fuzz:
	@if [ -f fuzz/CMakeLists.txt ]; then bash scripts/run-fuzz; fi

asan:
	$(DEPS) run test
	cmake --preset asan
	cmake --build --preset asan -j2
	ctest --preset asan

bench:
	$(DEPS) run test
	cmake --preset default
	cmake --build --preset default -j2
	bash bench/run-all build/default

package: build
	cd build/default && cpack -G DEB
	lintian --fail-on error,warning build/default/kelvane_*.deb

clean:
	rm -rf build

# The Windows installer (build/windows-app/Kelvane-VERSION-setup.exe); the
# first run builds Qt for Windows into /var/cache/kelvane.
.PHONY: package-windows
package-windows:
	$(DEPS) run windows
	bash scripts/package-windows
