# Entry points: `make demo` carves the bundled sample, `make test` runs every test.
# Both install what they need from Debian's packages first.
JOBS ?= 2
BUILD := build
SAMPLE := samples/chelsea.bmp
DEMO_OUT := $(BUILD)/demo/chelsea-300x300.bmp

.PHONY: demo test build native-test sanitize-test win32-test bench deps deps-win32 clean

deps:
	@bash scripts/install-deps.sh

deps-win32:
	@bash scripts/install-deps.sh --win32

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@mkdir -p $(dir $(DEMO_OUT))
	@$(BUILD)/bin/plivane fit $(SAMPLE) $(DEMO_OUT) --size 300x300
	@echo "Carved $(SAMPLE) (451 x 300) to 300 x 300: $(DEMO_OUT)"

native-test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize-test: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Release -DPLIVANE_SANITIZE=address >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Release -DPLIVANE_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS)

win32-test: deps-win32 build
	@bash scripts/win32-test.sh

test: native-test sanitize-test win32-test

bench: build
	@$(BUILD)/bin/bench_carve

clean:
	rm -rf build build-asan build-tsan build-win32
