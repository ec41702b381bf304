# The two commands a newcomer needs: `make run` and `make test`. Both install what they need first.
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja
TEST_DIR := build/test
RELEASE_DIR := build/release
FUZZ_DIR := build/fuzz
FUZZ_SECONDS ?= 60

.PHONY: all setup build test bench fuzz run screenshots format clean

all: build

setup:
	@scripts/setup.sh

build: setup
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVX_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

test: setup
	cmake -S . -B $(TEST_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=ON -DVX_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

bench: setup
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DVX_TESTS=OFF -DVX_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	scripts/bench.sh build/bench

fuzz: setup
	CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_TESTS=OFF -DVX_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

run: build
	scripts/run.sh $(RELEASE_DIR)

screenshots: build
	scripts/screenshots.sh $(RELEASE_DIR)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
