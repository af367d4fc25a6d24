# Two everyday commands: `make demo` and `make test`. Both configure and build
# with CMake first; the packages the build needs are installed when missing.

JOBS ?= 2
RELEASE := build/release
ASAN := build/asan
DEMO := build/demo

.PHONY: all deps release asan test demo bench memcheck clean

all: release

deps:
	@scripts/install-deps.sh

release: deps
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release > /dev/null
	@cmake --build $(RELEASE) -j $(JOBS)

asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIVULON_SANITIZE=ON > /dev/null
	@cmake --build $(ASAN) -j $(JOBS)

# Every test, once in the optimised build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
test: release asan
	@echo "== optimised build =="
	@ctest --test-dir $(RELEASE) --output-on-failure -j $(JOBS)
	@echo "== sanitizer build =="
	@ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

demo: release
	@mkdir -p $(DEMO)
	@cd $(DEMO) && ../release/rivulon ../../examples/phage_lambda_NC_001416.fa \
	  < ../../examples/answers.txt > dialogue.txt
	@echo "Demo run of rivulon on examples/phage_lambda_NC_001416.fa (definition 1, level 80)."
	@echo "Report page:     $(DEMO)/atr_phage_lambda_NC_001416.html"
	@echo "Alignments page: $(DEMO)/align_phage_lambda_NC_001416.html"
	@echo "Text report:     $(DEMO)/atr_phage_lambda_NC_001416.txt"

bench: release
	@$(RELEASE)/bench/align_bench

clean:
	rm -rf build
