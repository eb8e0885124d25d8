#!/usr/bin/env bash
# Installs what the tests need (as root on Debian: the test packages of .ci/packages.sh), builds
# wavproc with warnings as errors and runs every test; builds it again with clang and LLVM's libc++
# and compares the two builds' output byte for byte (tests/compare_builds.sh); compares a build with
# ThreadSanitizer the same way; runs every test again in a build with AddressSanitizer and
# UndefinedBehaviorSanitizer; then fuzzes each fuzz target for a short while (FUZZ_SECONDS each, 60
# unless set; 0 leaves the fuzzing out).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${FUZZ_SECONDS:-60}

bash .ci/packages.sh test

# Fails when the build left the tests out (GoogleTest not found): a check without tests passes nothing.
require_tests() {
  [[ -f $1/tests/CTestTestfile.cmake ]] && return
  echo "check.sh: GoogleTest not found (Debian: libgtest-dev), so $1 has no tests" >&2
  exit 1
}

echo "== optimised build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DWAVPROC_WERROR=ON >/dev/null
require_tests build
cmake --build build -j"$jobs"
ctest --test-dir build -j"$jobs" --output-on-failure
passed=$(ctest --test-dir build -N | sed -n 's/^Total Tests: //p')

echo "== clang and LLVM libc++ build, compared byte for byte with the GCC build"
CXX=clang++ cmake -S . -B build-libcxx -DCMAKE_BUILD_TYPE=Release -DWAVPROC_WERROR=ON -DWAVPROC_TESTS=OFF \
  -DWAVPROC_BENCH=OFF -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ >/dev/null
cmake --build build-libcxx -j"$jobs" --target wavproc wavproc-import
bash tests/compare_builds.sh build/wavproc build-libcxx/wavproc 200
# wavproc-import's records of the test data, written by both builds, byte for byte.
for build in build build-libcxx; do
  rm -rf "$build/import-compare" && mkdir "$build/import-compare"
  "$build/import/wavproc-import" -d "$build/import-compare" --remove-mean tests/data/import/AOM0011801241951.?? >/dev/null
  "$build/import/wavproc-import" -d "$build/import-compare" tests/data/import/1-EAS.dat >/dev/null
  "$build/import/wavproc-import" -d "$build/import-compare" --single tests/data/import/*.{AT2,v1,smc,ASC} >/dev/null
  "$build/import/wavproc-import" -d "$build/import-compare" --single --channels EHZ tests/data/import/*.SAC >/dev/null
  if grep -q '^WAVPROC_LIBMSEED_LIBRARY:FILEPATH=/' "$build/CMakeCache.txt"; then
    "$build/import/wavproc-import" -d "$build/import-compare" --single --channels BHZ \
      tests/data/import/reference-testdata-{int16,int32,float32,float64,steim1,steim2,steim1-LE,steim2-LE}.mseed2 >/dev/null
  fi
done
diff -r build/import-compare build-libcxx/import-compare

echo "== ThreadSanitizer build, compared byte for byte with the GCC build"
# The stages' thread, the second thread and the file thread share the record store and the units'
# blocks; a race among them is reported on standard error and ends the run with status 66, which
# the comparison does not take for the optimised build's output.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWAVPROC_WERROR=ON -DWAVPROC_TESTS=OFF \
  -DWAVPROC_BENCH=OFF -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target wavproc
TSAN_OPTIONS=halt_on_error=1:exitcode=66 bash tests/compare_builds.sh build/wavproc build-tsan/wavproc 100

echo "== AddressSanitizer and UndefinedBehaviorSanitizer build"
# The first report ends the process with its own status (86, 87): never 0, 1 or the SIGABRT of a
# fatal report, so no test can mistake it for an expected end; the tests also compare standard
# error exactly.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=87
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWAVPROC_SANITIZE=ON -DWAVPROC_WERROR=ON \
  -DWAVPROC_BENCH=OFF >/dev/null
require_tests build-asan
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan -j"$jobs" --output-on-failure
passed=$((passed + $(ctest --test-dir build-asan -N | sed -n 's/^Total Tests: //p')))
# Every test passed in both builds (a failure has ended the script before this line).
summary="check: $passed passed, 0 failed"

if ((fuzz_seconds == 0)); then
  echo "$summary"
  exit 0
fi
if ! command -v clang++ >/dev/null ||
  ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address -o /dev/null - 2>/dev/null; then
  echo "clang++ with libFuzzer not found (Debian: clang, libclang-rt-14-dev): the fuzz targets are left out" >&2
  echo "$summary"
  exit 0
fi
echo "== fuzz targets, ${fuzz_seconds}s each"
CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWAVPROC_FUZZ=ON -DWAVPROC_SANITIZE=ON \
  -DWAVPROC_TESTS=OFF -DWAVPROC_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
bash fuzz/run.sh build-fuzz "$fuzz_seconds"
echo "$summary"
