# The two commands a user needs: `make run` and `make test`. Both install what is missing first.
# SANITIZE=address (with undefined-behaviour checks) or SANITIZE=thread builds into its own folder.
SANITIZE ?=
BUILD    := build$(if $(SANITIZE),-$(SANITIZE))
JOBS     ?= $(shell nproc)

.PHONY: run test bench build deps configure clean format

run: build
	./$(BUILD)/lumikey

test: build
	./tools/run-tests.sh $(BUILD) $(if $(filter thread,$(SANITIZE)),-L threaded)

bench: build
	cmake --build $(BUILD) --target benches -j $(JOBS)
	./tools/run-benches.sh $(BUILD)

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
