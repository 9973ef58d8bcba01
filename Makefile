# The two commands a user needs: `make run` and `make test`. Both install what is missing first.
# SANITIZE=address (with undefined-behaviour checks) or SANITIZE=thread builds into its own folder.
SANITIZE ?=
BUILD    := build$(if $(SANITIZE),-$(SANITIZE))
JOBS     ?= $(shell nproc)

FUZZ_SECONDS ?= 20

.PHONY: run test bench fuzz build deps configure clean format install deb

run: build
	./$(BUILD)/lumikey

# Under ThreadSanitizer only the threaded tests run, so only they are built.
THREADED := $(filter thread,$(SANITIZE))

test: configure
	cmake --build $(BUILD) -j $(JOBS) $(if $(THREADED),--target threaded_tests)
	./tools/run-tests.sh $(BUILD) $(if $(THREADED),-L threaded)

bench: build
	cmake --build $(BUILD) --target benches -j $(JOBS)
	./tools/run-benches.sh $(BUILD)

# Every reader's fuzz target for FUZZ_SECONDS each, from the seeds in fuzz/seeds; what they find
# stays in build-fuzz/corpus for the next run.
fuzz: deps
	@test -f build-fuzz/CMakeCache.txt || cmake -S . -B build-fuzz -DLUMIKEY_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS)
	@set -e; for target in build-fuzz/fuzz/*_fuzz; do \
		name=$$(basename $$target _fuzz); \
		mkdir -p build-fuzz/corpus/$$name; \
		echo "== $$name: $(FUZZ_SECONDS) s"; \
		$$target -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=10 -artifact_prefix=build-fuzz/ \
			-print_final_stats=1 build-fuzz/corpus/$$name fuzz/seeds/$$name \
			2>build-fuzz/$$name.log || { tail -40 build-fuzz/$$name.log; exit 1; }; \
		grep -E "^stat::number_of_executed_units" build-fuzz/$$name.log; \
	done

# make install [PREFIX=/usr/local] [DESTDIR=...]: the programs, assets, menu entry, icon and manual
# pages. make deb: a Debian package in $(BUILD)/package/.
PREFIX ?= /usr/local
INSTALLED := lumikey lumikey-decode assets desktop_data

install: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(INSTALLED)
	cmake --install $(BUILD) --prefix $(PREFIX)

deb: configure
	cmake --build $(BUILD) -j $(JOBS) --target $(INSTALLED)
	cd $(BUILD) && cpack -G DEB

build: configure
	cmake --build $(BUILD) -j $(JOBS)

configure: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DLUMIKEY_SANITIZE=$(SANITIZE)

deps:
	@./tools/install-deps.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-*
