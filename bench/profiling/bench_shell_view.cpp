// What reading the Terminal view costs against starting the shell at all, in
// one run and on the same home directory: each iteration times a bare
// `zsh -ilc true` and then the Terminal-view probe (one `zsh -ilc <script>`,
// its prompt hooks, and the JAVA_HOME lookup on disk), both through the live
// process runner with the same clean environment. The counter
// "ratio_to_bare_shell" is the probe's total time over the bare shell's; the
// target is at most 1.2. "BothViews" reads the Terminal and the Dock views at
// once, as the profiler does.
//
// The home holds start-up files like a developer's: PATH additions, a JDK
// under JAVA_HOME, aliases, a prompt hook and completion.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "platform/live/LiveFileSystem.h"
#include "platform/live/LiveProcessRunner.h"
#include "profiling/ShellView.h"

namespace {

using Clock = std::chrono::steady_clock;
using lumo::LoginShell;

void write(const std::filesystem::path& path, const std::string& text, bool executable = false) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
    if (executable) std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// A home directory with a developer's start-up files, made once and removed at exit.
struct RemovedAtExit {
    std::string path;
    ~RemovedAtExit() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

const std::string& home() {
    static const RemovedAtExit made{[] {
        char pattern[] = "/tmp/bench_shell_view-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        const std::filesystem::path dir = pattern;
        write(dir / "jdk-21/release", "JAVA_VERSION=\"21.0.5\"\n");
        write(dir / "jdk-21/bin/java", "#!/bin/sh\n", true);
        write(dir / ".zprofile", "export PATH=\"$HOME/.local/bin:$PATH\"\nexport EDITOR=vi\n");
        write(dir / ".zshrc",
              "export JAVA_HOME=\"$HOME/jdk-21\"\nexport PATH=\"$JAVA_HOME/bin:$PATH\"\n"
              "alias ll='ls -l'\nalias gs='git status'\nsetopt auto_cd hist_ignore_dups\n"
              "autoload -Uz compinit && compinit -C\n"
              "_title_hook() { : \"${PWD##*/}\" }\nprecmd_functions+=(_title_hook)\nPROMPT='%n@%m %1~ %# '\n");
        return std::string(pattern);
    }()};
    return made.path;
}

LoginShell zsh() {
    return {LoginShell::Kind::zsh, "/bin/zsh", {{"HOME", home()}, {"PATH", LoginShell::kSearchPath}, {"TERM", "dumb"}}};
}

double secondsOf(auto work) {
    const auto start = Clock::now();
    benchmark::DoNotOptimize(work());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void measure(benchmark::State& state, auto probe) {
    const auto runner = std::make_shared<lumo::LiveProcessRunner>();
    const LoginShell shell = zsh();
    const auto bare = [&] { return shell.run(*runner, LoginShell::View::terminal, "true").ok(); };
    bare();  // warm the caches once: the first start reads everything from disk
    double bareTotal = 0;
    double probeTotal = 0;
    for (auto _ : state) {
        bareTotal += secondsOf(bare);
        const double seconds = secondsOf(probe);
        probeTotal += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["bare_shell_ms"] = bareTotal * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio_to_bare_shell"] = probeTotal / bareTotal;
}

void TerminalView(benchmark::State& state) {
    const lumo::ShellViewProbe probe(std::make_shared<lumo::LiveProcessRunner>(),
                                     std::make_shared<lumo::LiveFileSystem>(), zsh(), nullptr);
    measure(state, [&] { return probe.look(LoginShell::View::terminal); });
}
BENCHMARK(TerminalView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

void BothViews(benchmark::State& state) {
    const lumo::ShellViewProbe probe(std::make_shared<lumo::LiveProcessRunner>(),
                                     std::make_shared<lumo::LiveFileSystem>(), zsh(), nullptr);
    measure(state, [&] {
        auto dock = std::async(std::launch::async, [&] { return probe.look(LoginShell::View::login); });
        const auto terminal = probe.look(LoginShell::View::terminal);
        return terminal.javaHome == dock.get().javaHome;
    });
}
BENCHMARK(BothViews)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace

BENCHMARK_MAIN();
