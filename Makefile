# The README's commands. Each one installs what is missing first.
BUILD := build
JOBS := $(shell nproc)

.PHONY: all setup build test run bench dist clean

all: build

setup:
	@scripts/setup.sh

$(BUILD)/win32/Makefile: CMakeLists.txt cmake/toolchain-i686.cmake
	cmake -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release

# The tests check the 32-bit exe too, so they are told where it is.
$(BUILD)/win64/Makefile: CMakeLists.txt cmake/toolchain-x86_64.cmake Makefile
	cmake -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAND_TESTS=ON \
	  -DKESTRAND_WIN32_EXE=$(abspath $(BUILD)/win32/Kestrand.exe)

build: setup $(BUILD)/win32/Makefile $(BUILD)/win64/Makefile
	cmake --build $(BUILD)/win32 -j $(JOBS)
	cmake --build $(BUILD)/win64 -j $(JOBS)

test: build
	scripts/test.sh $(BUILD)/win64

bench: build
	scripts/bench.sh $(BUILD)/win64

run: build
	scripts/run.sh $(BUILD)/win64

# The shipped zip: the 32-bit Release build, stripped and checked, with the docs.
dist: setup $(BUILD)/win32/Makefile
	cmake --build $(BUILD)/win32 -j $(JOBS)
	scripts/dist.sh $(BUILD)/win32 dist

clean:
	rm -rf $(BUILD)
