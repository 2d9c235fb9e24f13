# The two commands a newcomer needs: `make run` and `make test`.
JOBS ?= $(shell nproc)
GEN := -G Ninja
CTEST_ARGS ?=

.PHONY: deps models run build test test-unit test-tsan bench clean format check-format

deps:
	scripts/install-deps

# Real weights and recorded speech for the model tests, into the dependency cache.
models: deps
	scripts/fetch-models

build: deps
	cmake -S . -B build/release $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELNOTE_BUILD_TESTS=OFF
	cmake --build build/release -j$(JOBS)

run: build
	build/release/src/app/velnote

build/test/build.ninja: CMakeLists.txt
	cmake -S . -B build/test $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVELNOTE_SANITIZE=address

# Fails first on a file clang-format would change (`make format` fixes it).
test: deps models build/test/build.ninja
	scripts/check-format
	cmake --build build/test -j$(JOBS)
	scripts/test-services ctest --test-dir build/test --output-on-failure -j$(JOBS) $(CTEST_ARGS)

# The fast tests alone, without any service.
test-unit: build/test/build.ninja
	cmake --build build/test -j$(JOBS)
	ctest --test-dir build/test --output-on-failure -j$(JOBS) -L unit

test-tsan: deps models
	cmake -S . -B build/tsan $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELNOTE_SANITIZE=thread
	cmake --build build/tsan -j$(JOBS)
	scripts/test-services ctest --test-dir build/tsan --output-on-failure -j$(JOBS) $(CTEST_ARGS)

bench: deps models
	# Measured as shipped: the same build type as `make build`.
	cmake -S . -B build/bench $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELNOTE_BUILD_TESTS=OFF -DVELNOTE_BUILD_BENCH=ON
	cmake --build build/bench -j$(JOBS)
	for b in build/bench/bench/*_bench; do $$b; done

format:
	git ls-files --cached --others --exclude-standard '*.cpp' '*.h' | xargs clang-format -i

check-format:
	scripts/check-format

clean:
	rm -rf build
