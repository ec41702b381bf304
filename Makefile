# The two commands a newcomer needs: `make run` and `make test`. Both install what they need first.
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
TEST_DIR := build/test
RELEASE_DIR := build/release
FUZZ_DIR := build/fuzz
PACKAGE_DIR := build/package
FUZZ_SECONDS ?= 60

.PHONY: all setup build test bench fuzz run screenshots package format clean

all: build

# Each target installs the Debian packages its purpose needs (scripts/setup.sh lists them).
setup:
	@scripts/setup.sh run test

build:
	@scripts/setup.sh build
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVX_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

test:
	@scripts/setup.sh test
	cmake -S . -B $(TEST_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=ON -DVX_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

bench:
	@scripts/setup.sh bench
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVX_TESTS=OFF -DVX_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	scripts/bench.sh build/bench

fuzz:
	@scripts/setup.sh fuzz
	CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_TESTS=OFF -DVX_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

run: build
	@scripts/setup.sh run
	scripts/run.sh $(RELEASE_DIR)

screenshots: build
	@scripts/setup.sh run
	scripts/screenshots.sh $(RELEASE_DIR)

DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
# A Debian package of both programs (build/package/*.deb), built with Debian's hardening flags and checked by
# lintian.
package:
	@scripts/setup.sh package
	cmake -S . -B $(PACKAGE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVX_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
		-DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CXXFLAGS) $$($(DEB_FLAGS) CPPFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)"
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack -G DEB
	lintian --fail-on error --info $(PACKAGE_DIR)/*.deb

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
