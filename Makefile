# The two commands: `make run` and `make test`. Both install what is missing first.
BUILD       := build
TEST_PREFIX := $(BUILD)/wineprefix-test
SESSION     := tools/wine-run --session --headless --prefix $(TEST_PREFIX) --

.PHONY: all run test bootstrap build screenshot dist bench icons clean

all: build

bootstrap:
	@tools/bootstrap

$(BUILD)/CMakeCache.txt:
	@cmake --preset mingw >/dev/null

build: bootstrap $(BUILD)/CMakeCache.txt
	@cmake --build --preset mingw

run: build
	tools/wine-run $(BUILD)/Pellucidor.exe

# A fresh Wine prefix for every run, so no test sees what an earlier run left in the registry.
test: build
	@rm -rf $(TEST_PREFIX)
	@LC_ALL=C $(SESSION) ctest --test-dir $(BUILD) --output-on-failure

screenshot: build
	@rm -rf $(BUILD)/wineprefix-shot
	@LC_ALL=C tools/wine-run --session --headless --prefix $(BUILD)/wineprefix-shot -- tools/screenshot $(BUILD)/Pellucidor.exe $(BUILD)/screenshot.png

bench: build
	@rm -rf $(BUILD)/wineprefix-bench
	@LC_ALL=C tools/wine-run --session --headless --prefix $(BUILD)/wineprefix-bench -- wine $(BUILD)/bench/pellucidor_bench.exe

dist: build
	@rm -rf $(BUILD)/dist && mkdir -p $(BUILD)/dist/Pellucidor
	@cp $(BUILD)/Pellucidor.exe README.md $(BUILD)/dist/Pellucidor/
	@cd $(BUILD)/dist && zip -qr ../Pellucidor.zip Pellucidor
	@echo "$(BUILD)/Pellucidor.zip"

icons:
	@res/icons/make-icons

clean:
	rm -rf $(BUILD)
