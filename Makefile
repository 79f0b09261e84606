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
	@cd $(BUILD) && ctest --output-on-failure -j$(JOBS) -LE package

install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The Debian package: built from a copy of the tree in $(BUILD)/deb/ (dpkg-buildpackage leaves its
# files beside the tree it builds, so they stay in there), then copied to $(BUILD)/.
.PHONY: deb
deb: deps
	@rm -rf $(BUILD)/deb && mkdir -p $(BUILD)/deb/src
	@git ls-files -z -co --exclude-standard | tar --null -T - --ignore-failed-read -cf - | tar -xf - -C $(BUILD)/deb/src
	@cd $(BUILD)/deb/src && DEB_BUILD_OPTIONS="parallel=$(JOBS) $(DEB_BUILD_OPTIONS)" dpkg-buildpackage -us -uc -b
	@rm -f $(BUILD)/mossvale_*.deb && cp $(BUILD)/deb/mossvale_*.deb $(BUILD)/ && ls $(BUILD)/mossvale_*.deb

clean:
	rm -rf $(BUILD)
