# Entry points for newcomers and CI. `make demo` runs the main job on the
# bundled data; `make test` installs what is missing, then builds and runs
# every test twice: a plain build and an ASan+UBSan build; last it makes the
# Debian packages (`make package`) and checks them installed.
#
# `make demo` needs only a C++ compiler, cmake and make: it installs (as
# root) or names those alone, configures a build without tests when none is
# there yet, and builds the plug-in, the host runtime and the two tools. The
# test targets turn the tests of such a build on.
#
# `make demo` and `make test` keep the output of configuring, compiling,
# packaging and installing packages in a log in the build folder and print
# one line per step (the end of the log when a step fails); the tests print
# one line per test program and every failure in full (scripts/quietly.sh,
# scripts/ctest_quietly.sh). `make build` and `make package` show everything.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
PACKAGE_BUILD ?= build-package
PACKAGES   := cmake make g++ clang lld libgtest-dev libgmock-dev googletest \
              libbenchmark-dev python3 python3-numpy python3-pandas procps \
              help2man man-db pkg-config dpkg-dev fakeroot file lintian util-linux \
              nats-server libnats-dev python3-matplotlib libssl-dev openssl python3-cryptography
DEMO_PACKAGES := cmake make g++

.PHONY: all deps demo-deps tests-on build build-asan install test test-plain test-asan package \
        test-package demo clean

all: build

# $(call need_packages,LIST): as root, installs the packages of LIST that are
# missing (apt-get's output goes to a log, shown when it fails); as anyone
# else, names them and the command that installs them, and fails.
define need_packages
	@command -v dpkg-query > /dev/null || exit 0; missing=""; for p in $(1); do \
	  dpkg-query -W -f '$${Status}' $$p 2>/dev/null | grep -q ' installed$$' || missing="$$missing $$p"; done; \
	if [ -z "$$missing" ]; then exit 0; fi; \
	if [ "$$(id -u)" != 0 ]; then \
	  echo "missing Debian packages:$$missing; install them with: sudo apt-get install$$missing" >&2; exit 1; \
	fi; \
	sh scripts/quietly.sh $(BUILD)/packages.log "install Debian packages:$$missing" sh -c \
	  "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq$$missing"
endef

deps:
	$(call need_packages,$(PACKAGES))

demo-deps:
	$(call need_packages,$(DEMO_PACKAGES))

$(BUILD)/CMakeCache.txt:
	@sh scripts/quietly.sh $(BUILD)/configure.log "configure $(BUILD)" \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON

# A build `make demo` configured has no tests; this turns them on.
tests-on: $(BUILD)/CMakeCache.txt
	@if grep -q '^BUILD_TESTING:BOOL=OFF' $(BUILD)/CMakeCache.txt; then \
	  sh scripts/quietly.sh $(BUILD)/configure.log "configure $(BUILD) with the tests" \
	    cmake -S . -B $(BUILD) -DBUILD_TESTING=ON; fi

$(ASAN_BUILD)/CMakeCache.txt:
	@sh scripts/quietly.sh $(ASAN_BUILD)/configure.log "configure $(ASAN_BUILD)" \
	  cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDRAV_SANITIZE=ON

build: tests-on
	cmake --build $(BUILD) -j $(JOBS)

build-asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Into the prefix the build was configured with (/usr/local), or PREFIX=DIR.
# A build the demo configured stays without tests.
install: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# A test runs once: one that fails now and then is a failing test.
test-plain: tests-on
	@sh scripts/quietly.sh $(BUILD)/build.log "build $(BUILD)" cmake --build $(BUILD) -j $(JOBS)
	@sh scripts/ctest_quietly.sh $(BUILD) $(JOBS)

test-asan: $(ASAN_BUILD)/CMakeCache.txt
	@sh scripts/quietly.sh $(ASAN_BUILD)/build.log "build $(ASAN_BUILD)" cmake --build $(ASAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  sh scripts/ctest_quietly.sh $(ASAN_BUILD) $(JOBS)

# Debian packages, built for /usr apart from the test builds.
$(PACKAGE_BUILD)/CMakeCache.txt:
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON

package: deps $(PACKAGE_BUILD)/CMakeCache.txt
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/*.deb
	cd $(PACKAGE_BUILD) && cpack

# lintian, then (as root) dpkg -i, the installed checks and dpkg --purge.
test-package: deps
	@mkdir -p $(PACKAGE_BUILD)
	@sh scripts/quietly.sh $(PACKAGE_BUILD)/package.log "package $(PACKAGE_BUILD)" \
	  $(MAKE) --no-print-directory package
	@sh scripts/quietly.sh $(PACKAGE_BUILD)/packages-test.log "test the installed packages" \
	  sh tests/install/packages.sh $(PACKAGE_BUILD)

test: deps
	@$(MAKE) --no-print-directory test-plain
	@$(MAKE) --no-print-directory test-asan
	@$(MAKE) --no-print-directory test-package

# Without gtest, clang, Google Benchmark or NATS: a build configured here
# has no tests, and only the tools and what they load are built.
demo: demo-deps
	@[ -f $(BUILD)/CMakeCache.txt ] || sh scripts/quietly.sh $(BUILD)/configure.log \
	  "configure $(BUILD) for the demo" \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
	@sh scripts/quietly.sh $(BUILD)/demo-build.log "build the plug-in, dravrun and dravfeed" \
	  cmake --build $(BUILD) --target dravrun dravfeed -j $(JOBS)
	@sh examples/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PACKAGE_BUILD)
