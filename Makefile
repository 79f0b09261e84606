# The two commands of the README: `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2
MAKEFLAGS += --no-print-directory

.PHONY: deps build demo test install clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# Only what the demo runs: the program with its data, and the tool that shows it headless.
demo: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target mossvale mossvale-demo-shot
	@scripts/demo

test: build
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

clean:
	rm -rf $(BUILD)
