# Entry points for newcomers and CI. `make demo` runs the main job on the
# bundled data; `make test` installs what is missing, then builds and runs
# every test twice: a plain build and an ASan+UBSan build; last it makes the
# Debian packages (`make package`) and checks them installed.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
PACKAGE_BUILD ?= build-package
PACKAGES   := cmake make g++ clang lld libgtest-dev libgmock-dev googletest \
              libbenchmark-dev python3 procps \
              help2man man-db pkg-config dpkg-dev fakeroot file lintian util-linux \
              nats-server libnats-dev

.PHONY: all deps build build-asan test test-plain test-asan package test-package demo clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing Debian packages:$$missing (run as root, or install them)"; exit 1; \
	  fi; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DDRAV_SANITIZE=ON

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

build-asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# A test runs once: one that fails now and then is a failing test.
test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# Debian packages, built for /usr apart from the test builds.
$(PACKAGE_BUILD)/CMakeCache.txt:
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON

package: deps $(PACKAGE_BUILD)/CMakeCache.txt
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	rm -f $(PACKAGE_BUILD)/*.deb
	cd $(PACKAGE_BUILD) && cpack

# lintian, then (as root) dpkg -i, the installed checks and dpkg --purge.
test-package: package
	sh tests/install/packages.sh $(PACKAGE_BUILD)

test: deps
	$(MAKE) test-plain
	$(MAKE) test-asan
	$(MAKE) test-package

demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target dravrun dravfeed -j $(JOBS)
	sh examples/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PACKAGE_BUILD)
