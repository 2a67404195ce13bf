// Benchmarks measure native runs only: a 32-bit program run through a
// user-mode emulator (qemu-i386) says nothing about a device, so it prints no
// figure that could be compared with one.
#pragma once

#include <stdio.h>
#include <string.h>
#include <sys/utsname.h>

#include <benchmark/benchmark.h>

namespace qor {

// A 32-bit x86 program sees the kernel's "x86_64" natively and the
// emulator's "i686" under qemu-i386.
inline bool benchRunsEmulated() {
#if defined(__i386__)
    struct utsname host;
    if (uname(&host) == 0 && strcmp(host.machine, "x86_64") != 0) {
        printf(
            "benchmark: this 32-bit program runs emulated (%s): no figures, run it on a machine "
            "that executes i386 programs\n",
            host.machine);
        return true;
    }
#endif
    return false;
}

}  // namespace qor

// BENCHMARK_MAIN that refuses to measure under emulation.
#define QOR_BENCHMARK_MAIN() \
    int main(int argc, char** argv) { \
        if (qor::benchRunsEmulated()) return 0; \
        benchmark::Initialize(&argc, argv); \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1; \
        benchmark::RunSpecifiedBenchmarks(); \
        benchmark::Shutdown(); \
        return 0; \
    }
