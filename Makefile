# Two everyday commands: `make demo` and `make test`. Both configure and build
# with CMake first; the packages the build needs are installed when missing.

JOBS ?= 2
RELEASE := build/release
ASAN := build/asan
DEMO := build/demo

FUZZ := $(CURDIR)/build/fuzz
FUZZ_SECONDS ?= 60
FUZZERS := fuzz_sequence fuzz_coding_regions fuzz_dialogue fuzz_pipeline fuzz_batch fuzz_batch_index fuzz_annotation

.PHONY: all deps deps-build release programs asan test demo python-check golden-update bench bench-peers bench-long bench-check bench-batch bench-answers workflow-test cluster-test browser-test deb install fuzz fuzz-run memcheck clean

all: release

deps:
	@scripts/install-deps.sh

# What building the programs alone needs (a compiler, CMake, htslib).
deps-build:
	@scripts/install-deps.sh --build

# The release build also makes the Python module, for Debian's Python (where
# pybind11 and pytest are installed).
PYTHON ?= /usr/bin/python3

release: deps
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DRIVULON_PYTHON=ON -DPython_EXECUTABLE=$(PYTHON) > /dev/null
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

# Rewrites the expected outputs of the golden runs and of the report tests
# from the current build. Review the changes like code (git diff tests/).
golden-update: release
	@RIVULON_GOLDEN_UPDATE=1 $(RELEASE)/tests/golden_tests --gtest_brief=1
	@RIVULON_GOLDEN_UPDATE=1 $(RELEASE)/tests/report_tests --gtest_brief=1 --gtest_filter='ReportGolden*'
	@git status --short tests/golden tests/report

# The two programs alone, without the tests, quietly: what make demo and make
# install need (make test builds the rest into the same folder).
programs: deps-build
	@cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release > /dev/null
	@echo "Building rivulon and rivulon-batch into $(RELEASE)/ ..."
	@cmake --build $(RELEASE) -j $(JOBS) --target rivulon rivulon-batch > $(RELEASE)/programs.log 2>&1 || \
	  { tail -n 40 $(RELEASE)/programs.log; echo "the build failed (all of it: $(RELEASE)/programs.log)"; exit 1; }

demo: programs
	@scripts/demo.sh $(RELEASE) $(DEMO)

# libFuzzer targets (clang, ASan + UBSan); `make fuzz-run` runs each for
# FUZZ_SECONDS on a scratch copy of its seed corpus.
fuzz: deps
	@CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIVULON_FUZZ=ON \
	  -DRIVULON_TESTS=OFF > /dev/null
	@cmake --build $(FUZZ) -j $(JOBS)

fuzz-run: fuzz
	@for f in $(FUZZERS); do \
	  corpus=$(FUZZ)/corpus/$${f#fuzz_}; mkdir -p $$corpus; \
	  cp tests/fuzz/corpus/$${f#fuzz_}/* $$corpus/; \
	  echo "== $$f for $(FUZZ_SECONDS) s =="; \
	  if ! $(FUZZ)/tests/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	      -artifact_prefix=$(FUZZ)/ $$corpus > $(FUZZ)/$$f.log 2>&1; then \
	    tail -n 60 $(FUZZ)/$$f.log; echo "$$f found a failure"; exit 1; \
	  fi; \
	  grep -E "number_of_executed_units|average_exec_per_sec" $(FUZZ)/$$f.log; \
	done

# The Snakemake workflow on a small genome, locally: its gathered outputs must
# equal one rivulon-batch run byte for byte.
workflow-test: release
	@tests/workflow/run.sh $(RELEASE)/rivulon-batch

# The workflow through its SLURM profile on a one-node cluster started here
# (SLURM and munge from Debian), a detect job cancelled and run again.
cluster-test: release
	@scripts/install-deps.sh --cluster
	@tests/cluster/run.sh $(RELEASE)/rivulon-batch

# Both programs' pages from real runs, opened in headless Chromium: links,
# console errors, sorting and filtering, 500 alignments of the view against
# the table, and the times of a record with 50,000 repeats; screenshots in
# build/browser-test/.
browser-test: release
	@scripts/install-deps.sh --browser
	@tests/browser/run.sh $(RELEASE)

# A Debian package of both programs and their manual pages (CPack), checked
# by installing it into a scratch root.
deb: programs
	@cd $(RELEASE) && cpack -G DEB > cpack.log 2>&1 || { tail -n 20 cpack.log; exit 1; }
	@tests/package/deb_check.sh $$(ls -t $(RELEASE)/rivulon_*.deb | head -n 1)

# The Python package as a user installs it: pip into a virtual environment
# (no network), then the README's example.
python-check: deps
	@tests/python/pip_check.sh

# Installs both programs and their manual pages (PREFIX, default /usr/local).
PREFIX ?= /usr/local
install: programs
	@cmake --install $(RELEASE) --prefix $(PREFIX) --component programs > $(RELEASE)/install.log
	@cmake --install $(RELEASE) --prefix $(PREFIX) --component development >> $(RELEASE)/install.log
	@echo "Installed rivulon, rivulon-batch, their manual pages and the library under $(PREFIX)"

# valgrind over the bundled example for each definition (maximum motif length 50).
memcheck: release
	@mkdir -p build/memcheck
	@set -e; cd build/memcheck; for d in 1 2 3; do \
	  level=80; [ $$d = 3 ] && level=50; \
	  printf '2\n7\n7\n3\n50\n%s\n%s\nY\nY\n' $$d $$level > answers$$d.txt; \
	  echo "== valgrind, definition $$d =="; \
	  valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
	    ../release/rivulon ../../examples/phage_lambda_NC_001416.fa < answers$$d.txt > /dev/null; \
	done; echo "valgrind: no errors"

bench: release
	@$(RELEASE)/bench/align_bench

# Rivulon against TRF on the sequences of ../shared/data (not part of make test).
bench-peers: release
	@scripts/install-deps.sh --bench
	@bench/peers.sh $(RELEASE)/rivulon

# A long record (50 Mb of the HLA region with 1% changes) against one twice as long.
bench-long: release
	@bench/long_record.sh $(RELEASE)

# Byte-identity of every output on ../shared/data against another commit:
# make bench-check REF=<commit>
bench-check: release
	@bench/check.sh $(REF)

# rivulon-batch's answers against TRF's on ../shared/data (recall, agreement,
# calls per region, chance calls per Mb on a control genome, CPU).
bench-answers: release
	@scripts/install-deps.sh --bench
	@bench/answers.py $(RELEASE)/rivulon-batch build/bench/answers ../shared/data/*.fa

# rivulon-batch on ../shared/data: the same rows as the console program's text
# report for every sequence, and a several-record genome with 1 and 2 threads.
bench-batch: release
	@scripts/install-deps.sh --bench
	@bench/batch.sh $(RELEASE)

clean:
	rm -rf build
