# The two commands of the README: `make run` and `make test`.
BUILD ?= build
JOBS ?= 2
PREFIX ?= /usr/local

.PHONY: all deps configure build run test test-sync bench install package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the program: the tests are built by `make test`.
run: configure
	@cmake --build $(BUILD) -j $(JOBS) --target jotterel
	./$(BUILD)/jotterel

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Two programs synced through a folder that two Syncthing daemons carry.
test-sync: build
	xvfb-run -a -s '-screen 0 1280x800x24' tests/sync/sync-e2e.sh $(BUILD)/jotterel $(BUILD)/screenshots

bench: build
	@if [ -x $(BUILD)/bench/jotterel_bench ]; then ./$(BUILD)/bench/jotterel_bench; \
	else echo "no benchmarks yet"; fi

# `make install PREFIX=... [DESTDIR=...]`
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package in $(BUILD)/, installable with `apt install ./$(BUILD)/jotterel_*.deb`.
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
