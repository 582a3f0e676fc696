#!/usr/bin/env bash
# Installs what is missing, checks the formatting, then builds and runs every test headless four
# ways, warnings as errors in each: the fuzz regressions (clang, libFuzzer),
# the library's and the pipeline's tests on std::thread under ThreadSanitizer (only their targets, no Qt
# Widgets), the whole suite under AddressSanitizer and UBSan, and the plain release
# build last, whose tests include the Debian packages built from the sources
# and checked, and Dravolin.dll cross-built for x86 and x64 Windows, the x64
# one run under Wine. Stops at the first failure.
set -euo pipefail
source "$(dirname "$0")/tools/deps.sh"
install_missing_packages
check_format
test_build build-fuzz fuzzers -- -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DDRAVOLIN_FUZZ=ON -DDRAVOLIN_BUILD_TESTS=OFF -DDRAVOLIN_BUILD_BENCH=OFF -DDRAVOLIN_WERROR=ON
test_build build-tsan pipeline_test convlib_codec_test -- -DDRAVOLIN_TSAN=ON -DDRAVOLIN_BUILD_BENCH=OFF -DDRAVOLIN_WERROR=ON
test_build build-asan -- -DDRAVOLIN_SANITIZE=ON -DDRAVOLIN_BUILD_BENCH=OFF -DDRAVOLIN_WERROR=ON
test_build build -- -DDRAVOLIN_WERROR=ON -DDRAVOLIN_WINDOWS=ON
