# The README's commands. Each one installs what is missing first.
BUILD := build
JOBS := $(shell nproc)

.PHONY: all setup setup-wine build test run bench dist screenshot clean

all: build

setup:
	@scripts/setup.sh

# The Debian 13 root with Wine 10 that runs the 32-bit exe here.
setup-wine: setup
	@scripts/setup.sh wine

# One build: the shipped 32-bit Release exe and the tests that run it.
$(BUILD)/win32/Makefile: CMakeLists.txt cmake/toolchain-i686.cmake Makefile
	cmake -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DKESTRAND_TESTS=ON

build: setup $(BUILD)/win32/Makefile
	cmake --build $(BUILD)/win32 -j $(JOBS)

test: build setup-wine
	scripts/test.sh $(BUILD)/win32

bench: build setup-wine
	scripts/bench.sh $(BUILD)/win32

run: build setup-wine
	scripts/run.sh $(BUILD)/win32

# The README's picture, docs/kestrand.png, taken again from the shipped exe.
screenshot: build setup-wine
	scripts/screenshot.sh $(BUILD)/win32

# The shipped zip: the same Kestrand.exe that the tests run, checked, with the docs.
dist: setup $(BUILD)/win32/Makefile
	cmake --build $(BUILD)/win32 -j $(JOBS) --target Kestrand
	scripts/dist.sh $(BUILD)/win32 dist

# The Wine root lives outside the build folder (/var/cache/kestrand) and stays.
clean:
	rm -rf $(BUILD)
