# Set-up on a fresh Debian machine: `make run` and `make test`.
BUILD   ?= build
JOBS    ?= $(shell nproc)
PACKAGES = qt6-base-dev libqt6sql6-sqlite libqt6sql6-psql libqt6sql6-odbc unixodbc-dev \
           libsqliteodbc odbcinst libgtest-dev cmake g++ make postgresql libsqlite3-dev \
           sqlite3 procps ninja-build

.PHONY: all deps configure build test run bench screenshots clean

all: build

# Installs whatever Debian package is missing (only possible as root).
deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing: $$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	  else \
	    echo "Missing Debian packages (run as root or install them): $$missing"; exit 1; \
	  fi; \
	fi

# Configures a new build folder only: a configured one reconfigures itself
# when a CMakeLists.txt changes. Ninja, because it finds an unchanged tree
# up to date in a fraction of a second.
configure: deps
	@if [ -f $(BUILD)/CMakeCache.txt ] && { [ -f $(BUILD)/Makefile ] || [ -f $(BUILD)/build.ninja ]; }; then :; \
	else cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts a throw-away PostgreSQL server for the data tests, runs every test,
# then stops the server whatever the outcome.
test: build
	MERIDOX_BIN_DIR=$(abspath $(BUILD))/bin MERIDOX_SOURCE_DIR=$(CURDIR) QT_QPA_PLATFORM=offscreen \
	  tests/support/with-postgres.sh ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The programs and the sample only; the tests and benchmarks are left to `make test`.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target programs
	examples/run.sh $(BUILD)/bin

bench: build
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done

screenshots: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/Meridox --screenshots screenshots

clean:
	rm -rf $(BUILD)
