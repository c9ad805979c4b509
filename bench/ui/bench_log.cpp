// bench_log: the remediation sheet's log under a long install transcript.
//
// 100,000 lines go through the sheet's model and its view offscreen, in
// bursts of 500 as a chatty installer delivers them, each burst drawn in one
// batch (pump, append, scroll to the end, repaint). Reported: lines per
// second, the time of each 10,000-line slice, the ratio of the last slice to
// the first (appending must not get dearer as the log grows; target <= 1.5),
// and the process's peak resident memory. The baseline in the same run is
// the model alone (the same lines without a view).
//
//   build/release/bench/ui/bench_log   (offscreen by itself when there is no display)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "StreamingRemediationView.h"
#include "Style.h"
#include "screens/StreamingRemediationModel.h"

namespace {

using namespace lumo;
using Clock = std::chrono::steady_clock;

constexpr int kLines = 100'000;
constexpr int kBurst = 500;
constexpr int kSlice = 10'000;

class QuietSink : public TelemetrySink {
public:
    void emit(const std::string&, const JSONObject&) override {}
};

std::string transcriptLine(int n) {
    return "==> Downloading https://ghcr.io/v2/homebrew/core/openjdk/blobs/sha256:" + std::to_string(1000000 + n) +
           " ######################################## " + std::to_string(n % 100) + ".0%";
}

// A run whose events the benchmark feeds itself.
struct FedRun {
    std::shared_ptr<std::optional<EventSink<RemediationRunEvent>>> sink =
        std::make_shared<std::optional<EventSink<RemediationRunEvent>>>();
    StreamingRemediationModel::Starter starter() const {
        auto slot = sink;
        return [slot](const Remediation&, const CancelToken&) {
            auto [events, producer] = makeEventStream<RemediationRunEvent>();
            slot->emplace(producer);
            return RemediationRun{std::move(events), std::thread()};
        };
    }
};

// Feeds the transcript in bursts, calling `drawBurst` after each, and reports
// the rate, the first and last 10,000-line slices and the peak memory.
template <class DrawBurst>
void feedTranscript(benchmark::State& state, const FedRun& fed, DrawBurst drawBurst) {
    std::vector<double> slices;
    const auto start = Clock::now();
    auto sliceStart = start;
    for (int n = 0; n < kLines; ++n) {
        (*fed.sink)->yield(run_event::Line{transcriptLine(n)});
        if ((n + 1) % kBurst == 0) drawBurst();
        if ((n + 1) % kSlice == 0) {
            const auto now = Clock::now();
            slices.push_back(std::chrono::duration<double>(now - sliceStart).count());
            sliceStart = now;
        }
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    state.counters["lines_per_s"] = kLines / total;
    state.counters["first_10k_ms"] = slices.front() * 1000.0;
    state.counters["last_10k_ms"] = slices.back() * 1000.0;
    state.counters["last_over_first"] = slices.back() / slices.front();
    state.counters["peak_rss_mb"] = static_cast<double>(bench::peakResidentKilobytes()) / 1024.0;
}

// The sheet's view over its model: what the user sees.
void BM_SheetLog100k(benchmark::State& state) {
    QuietSink sink;
    for (auto _ : state) {
        FedRun fed;
        ui::UIEnvironment environment;
        environment.telemetry = &sink;
        ui::StreamingRemediationView view(Remediation::installTemurinViaBrew("temurin@25"), environment, {},
                                          fed.starter());
        view.resize(640, 460);
        view.show();
        QApplication::processEvents();
        feedTranscript(state, fed, [&view] {
            view.flushNow();
            view.log()->viewport()->repaint();
        });
        if (view.log()->blockCount() != kLines) state.SkipWithError("the log lost lines");
        (*fed.sink)->yield(run_event::Ended{0, std::nullopt});
        (*fed.sink)->finish();
        view.flushNow();
    }
}

// Baseline: the same lines through the model alone.
void BM_ModelOnly100k(benchmark::State& state) {
    QuietSink sink;
    for (auto _ : state) {
        FedRun fed;
        StreamingRemediationModel model(Remediation::installTemurinViaBrew("temurin@25"), {}, sink, {}, fed.starter());
        model.start();
        feedTranscript(state, fed, [&model] { model.pump(); });
        benchmark::DoNotOptimize(model.lines().size());
    }
}
BENCHMARK(BM_ModelOnly100k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SheetLog100k)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    lumo::bench::useOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    lumo::ui::applyApplicationStyle();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
