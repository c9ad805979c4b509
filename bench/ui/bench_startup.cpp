// Start-up of the window: time from process start to the first painted frame
// of the welcome screen (offscreen, on the simulated Mac of
// scenarios/no-jdk.json, consent already given), and the resident memory once
// idle. The baseline is a bare Qt window showing one label, started the same
// way in the same run; the counter "ratio_to_bare" on the welcome benchmark
// divides the two (target: at most 1.5).
//
// Each iteration spawns this program again in a child mode, so the time
// includes loading the program and its libraries. The child prints one line
// when the first frame is painted and one with its peak resident set size
// after 300 ms of idling, then exits.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "JavaProduct.h"
#include "LumoRootView.h"
#include "Style.h"
#include "profiling/SystemProfile.h"
#include "shell/Preferences.h"
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
std::string selfPath;

// Peak resident set size in kilobytes (bytes on macOS).
long peakRSSKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
#ifdef __APPLE__
    return usage.ru_maxrss / 1024;
#else
    return usage.ru_maxrss;
#endif
}

// Reports the first paint of `target`, then the idle memory, then quits.
class FirstPaintWatcher : public QObject {
public:
    explicit FirstPaintWatcher(QWidget* target) : target_(target) {}
    bool eventFilter(QObject* object, QEvent* event) override {
        if (!painted_ && object == target_ && event->type() == QEvent::Paint) {
            painted_ = true;
            std::printf("painted\n");
            std::fflush(stdout);
            QTimer::singleShot(300, [] {
                std::printf("rss %ld\n", peakRSSKilobytes());
                std::fflush(stdout);
                QApplication::quit();
            });
        }
        return false;
    }

private:
    QWidget* target_;
    bool painted_ = false;
};

class SilentSink : public lumo::TelemetrySink {
public:
    void emit(const std::string&, const lumo::JSONObject&) override {}
};

int runChild(const std::string& mode, int argc, char** argv) {
    QApplication application(argc, argv);
    if (mode == "bare") {
        QLabel label(QStringLiteral("Hello"));
        label.resize(720, 720);
        FirstPaintWatcher watcher(&label);
        label.installEventFilter(&watcher);
        label.show();
        return QApplication::exec();
    }
    lumo::ProductConfig::setCurrent(lumo::lumoraJava());
    lumo::ui::applyApplicationStyle();
    auto scenario = lumo::loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/no-jdk.json");
    if (!scenario) return 2;
    lumo::ui::LumoRootView::Options options;
    options.services = lumo::makeSimulatedServices(*scenario);
    options.services.store->set(lumo::PreferenceValue(true),
                                lumo::preference_keys::consented(lumo::ProductConfig::current()));
    options.initialProfile = lumo::SystemProfiler(options.services).profile();
    SilentSink sink;
    options.telemetry = &sink;
    lumo::ui::LumoRootView root(options);
    QWidget* welcome = root.findChild<QWidget*>(QStringLiteral("welcome-view"));
    if (!welcome) return 3;
    FirstPaintWatcher watcher(welcome);
    welcome->installEventFilter(&watcher);
    root.resize(720, 720);
    root.show();
    return QApplication::exec();
}

struct ChildRun {
    double secondsToPaint = 0;
    long rssKilobytes = 0;
};

ChildRun spawnChild(const char* mode) {
    int pipeFDs[2];
    if (pipe(pipeFDs) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFDs[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFDs[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFDs[1]);
    std::string modeArgument = mode;
    std::string childFlag = "--child";
    char* argv[] = {selfPath.data(), childFlag.data(), modeArgument.data(), nullptr};
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, selfPath.c_str(), &actions, nullptr, argv, environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFDs[1]);
    FILE* output = fdopen(pipeFDs[0], "r");
    ChildRun run;
    char line[256];
    while (std::fgets(line, sizeof line, output)) {
        if (std::strncmp(line, "painted", 7) == 0) {
            run.secondsToPaint = std::chrono::duration<double>(Clock::now() - start).count();
        } else if (std::strncmp(line, "rss ", 4) == 0) {
            run.rssKilobytes = std::atol(line + 4);
        }
    }
    std::fclose(output);
    int status = 0;
    waitpid(pid, &status, 0);
    return run;
}

double bareSecondsMean = 0;
long bareRSS = 0;

void runStartup(benchmark::State& state, const char* mode, bool isBaseline) {
    double totalSeconds = 0;
    long rss = 0;
    for (auto _ : state) {
        const ChildRun run = spawnChild(mode);
        state.SetIterationTime(run.secondsToPaint);
        totalSeconds += run.secondsToPaint;
        rss = std::max(rss, run.rssKilobytes);
    }
    const double mean = totalSeconds / static_cast<double>(state.iterations());
    state.counters["idle_rss_kb"] = static_cast<double>(rss);
    if (isBaseline) {
        bareSecondsMean = mean;
        bareRSS = rss;
    } else if (bareSecondsMean > 0 && bareRSS > 0) {
        state.counters["ratio_to_bare"] = mean / bareSecondsMean;
        state.counters["rss_ratio_to_bare"] = static_cast<double>(rss) / static_cast<double>(bareRSS);
    }
}

void BM_BareLabelWindow(benchmark::State& state) { runStartup(state, "bare", true); }
void BM_WelcomeScreen(benchmark::State& state) { runStartup(state, "welcome", false); }

// The baseline first, so the welcome benchmark can divide by it.
BENCHMARK(BM_BareLabelWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WelcomeScreen)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) return runChild(argv[2], argc, argv);
    selfPath = argv[0];
    if (selfPath.find('/') == std::string::npos) selfPath = "./" + selfPath;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
