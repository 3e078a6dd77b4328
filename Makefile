# fieldmeter: the commands. Build trees live under build/.
ASAN_DIR    := build/asan
TSAN_DIR    := build/tsan
RELEASE_DIR := build/release
PACKAGE_DIR := build/package
CMAKE_GEN   := -G Ninja

.PHONY: all setup build test test-asan test-tsan bench run release package clean format

all: build

setup:
	@bash scripts/bootstrap.sh

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DFM_SANITIZE=address,undefined

$(TSAN_DIR)/build.ninja:
	cmake -S . -B $(TSAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DFM_SANITIZE=thread -DFM_TSAN_BUILD=ON

$(RELEASE_DIR)/build.ninja:
	cmake -S . -B $(RELEASE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DFM_BUILD_BENCH=ON

build: setup $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR)

release: setup $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR)

# Every test: AddressSanitizer + UndefinedBehaviorSanitizer for all, ThreadSanitizer for the
# audio-thread tests.
test: setup test-asan test-tsan

test-asan: $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR)
	cd $(ASAN_DIR) && ctest --output-on-failure -j2

test-tsan: $(TSAN_DIR)/build.ninja
	cmake --build $(TSAN_DIR)
	cd $(TSAN_DIR) && ctest --output-on-failure -j2

bench: release
	FM_RELEASE_DIR=$(RELEASE_DIR) bash scripts/run-bench.sh

# A .deb of both programs for /usr, checked with dpkg-deb and lintian.
package: setup
	cmake -S . -B $(PACKAGE_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DFM_BUILD_TESTS=OFF -DFM_MAN_PAGES=ON
	cmake --build $(PACKAGE_DIR)
	cd $(PACKAGE_DIR) && cpack -G DEB
	bash scripts/check-package.sh $(PACKAGE_DIR)

run: release
	$(RELEASE_DIR)/app/fieldmeter $(ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
