// The process runner against the bare system calls it wraps, in one run:
//  - one-shot overhead: run("/bin/true") vs posix_spawn + waitpid of /bin/true;
//  - streaming: 1,000,000 lines through stream() vs `sh -c 'cat file >/dev/null'`
//    of the same file.
// Compare the two rows of each pair (ratio = runner / baseline).
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <variant>

#include <benchmark/benchmark.h>

#include "platform/live/LiveProcessRunner.h"

extern char** environ;

namespace {

constexpr int kLines = 1'000'000;

// Spawns `argv` with nothing redirected and waits for it; the baseline.
void spawnAndWait(char* const argv[]) {
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) std::abort();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
}

// A file of kLines short lines, written once, removed at exit.
const std::string& linesFile() {
    static const std::string path = [] {
        char pattern[] = "/tmp/bench_process-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd < 0) std::abort();
        close(fd);
        std::ofstream out(pattern, std::ios::binary);
        for (int i = 0; i < kLines; ++i) out << "line " << i << " of the streamed output\n";
        std::atexit([] { std::remove(linesFile().c_str()); });
        return std::string(pattern);
    }();
    return path;
}

void BM_BarePosixSpawnWait(benchmark::State& state) {
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    for (auto _ : state) spawnAndWait(argv);
}
BENCHMARK(BM_BarePosixSpawnWait)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_RunTrue(benchmark::State& state) {
    const lumo::LiveProcessRunner runner;
    for (auto _ : state) {
        auto result = runner.run("/bin/true", {});
        if (!result || result->exitCode != 0) state.SkipWithError("run failed");
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(BM_RunTrue)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_CatLinesToDevNull(benchmark::State& state) {
    const std::string script = "cat '" + linesFile() + "' >/dev/null";
    char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()), nullptr};
    for (auto _ : state) spawnAndWait(argv);
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_CatLinesToDevNull)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_StreamLines(benchmark::State& state) {
    const lumo::LiveProcessRunner runner;
    for (auto _ : state) {
        auto run = runner.stream("/bin/cat", {linesFile()});
        int lines = 0;
        for (const auto& event : run.events) lines += std::holds_alternative<lumo::process_event::Line>(event) ? 1 : 0;
        if (lines != kLines) state.SkipWithError("lines lost");
    }
    state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_StreamLines)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
