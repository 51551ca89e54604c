# Entry points for newcomers and CI. `make demo` runs the main job on the
# bundled data; `make test` installs what is missing, then builds and runs
# every test twice: a plain build and an ASan+UBSan build.

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
PACKAGES   := cmake make g++ clang lld libgtest-dev libgmock-dev googletest \
              libbenchmark-dev python3 python3-numpy procps

.PHONY: all deps build build-asan test test-plain test-asan demo clean

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

# A test that fails is run once more before it counts as failed: a few
# process-level pipe tests are timing-sensitive on a loaded two-core machine.
# ctest still prints every first failure, so a flaky test stays visible.
test-plain: build
	cd $(BUILD) && ctest --output-on-failure --repeat until-pass:2 -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure --repeat until-pass:2 -j $(JOBS)

test: deps
	$(MAKE) test-plain
	$(MAKE) test-asan

demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target dravrun dravfeed -j $(JOBS)
	sh examples/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
