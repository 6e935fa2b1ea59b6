# The two commands: `make run` and `make test`. Both install what is missing first.
# Every `make test` compiles the program, the tests and the benchmark twice: for 32-bit Windows (the
# program we ship, in build/) and for 64-bit Windows (build-x64/), and runs the tests on the one
# that Wine runs here: the 32-bit one, or where the kernel runs no 32-bit programs (and so no 32-bit
# Wine) the 64-bit one. `run`, `bench` and `screenshot` use that one too; `dist` always makes the
# 32-bit program.
ARCH        := $(shell tools/wine-arch)
PRESET      := $(if $(filter x86_64,$(ARCH)),mingw64,mingw)
BUILD       := $(if $(filter x86_64,$(ARCH)),build-x64,build)
TEST_PREFIX := $(BUILD)/wineprefix-test
SESSION     := tools/wine-run --session --headless --prefix $(TEST_PREFIX) --

.PHONY: all run test stress bootstrap build program build-i686 screenshot dist bench icons clean

all: build

bootstrap:
	@tools/bootstrap

build/CMakeCache.txt:
	@cmake --preset mingw >/dev/null

build-x64/CMakeCache.txt:
	@cmake --preset mingw64 >/dev/null

# Both builds whole; either failing fails the make.
build: bootstrap build/CMakeCache.txt build-x64/CMakeCache.txt
	@cmake --build --preset mingw
	@cmake --build --preset mingw64

# The program alone, in the build that runs here: what `make run` needs.
program: bootstrap $(BUILD)/CMakeCache.txt
	@cmake --build --preset $(PRESET) --target Pellucidor

build-i686: bootstrap build/CMakeCache.txt
	@cmake --build --preset mingw --target Pellucidor

run: program
	tools/wine-run $(BUILD)/Pellucidor.exe

# A fresh Wine prefix for every run, so no test sees what an earlier run left in the registry.
# The full-disk cases run in an 8 MB folder mounted for the run (where root or sudo allows it).
SMALL_DISK  := $(CURDIR)/$(BUILD)/small-disk

test: build
	@echo "tests: the $(ARCH) build ($(BUILD)/), which Wine runs here; both builds compiled"
	@rm -rf $(TEST_PREFIX)
	@disk=$$(tools/small-disk up $(SMALL_DISK)); \
	 PELLUCIDOR_SMALL_DISK=$$disk LC_ALL=C $(SESSION) ctest --test-dir $(BUILD) --output-on-failure; \
	 rc=$$?; tools/small-disk down $(SMALL_DISK); exit $$rc

# The long cases at full size: a 50 MB text copied, recorded, logged and stored; twenty kills at
# random moments of bursts.
stress: build
	@rm -rf $(TEST_PREFIX)
	@PELLUCIDOR_HUGE_CHARS=25000000 PELLUCIDOR_KILLS=20 LC_ALL=C $(SESSION) sh -c '\
	  wine $(BUILD)/tests/tests_clip.exe --gtest_filter=RecorderTest.EachKindOfContentIsRecordedOrPassedOver && \
	  wine $(BUILD)/tests/tests_e2e.exe --gtest_filter=Journey.KilledAnywhereItKeepsEveryEntryItLogged'

screenshot: program
	@rm -rf $(BUILD)/wineprefix-shot
	@LC_ALL=C tools/wine-run --session --headless --prefix $(BUILD)/wineprefix-shot -- tools/screenshot $(BUILD)/Pellucidor.exe docs/screenshot.png

bench: bootstrap $(BUILD)/CMakeCache.txt
	@cmake --build --preset $(PRESET) --target pellucidor_bench
	@rm -rf $(BUILD)/wineprefix-bench
	@LC_ALL=C tools/wine-run --session --headless --prefix $(BUILD)/wineprefix-bench -- wine $(BUILD)/bench/pellucidor_bench.exe $(BENCH_ARGS)

dist: build-i686
	@rm -rf build/dist && mkdir -p build/dist/Pellucidor/docs
	@cp build/Pellucidor.exe README.md build/dist/Pellucidor/
	@cp docs/screenshot.png build/dist/Pellucidor/docs/
	@cd build/dist && zip -qr ../Pellucidor.zip Pellucidor
	@echo "build/Pellucidor.zip"

icons:
	@res/icons/make-icons

clean:
	@tools/small-disk down $(SMALL_DISK)
	rm -rf build build-x64
