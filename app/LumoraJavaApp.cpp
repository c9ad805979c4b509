#include "LumoraJavaApp.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "LiveServices.h"
#include "LumoRootView.h"
#include "Style.h"
#include "simulated/Scenario.h"
#include "simulated/SimulatedServices.h"
#include "telemetry/TelemetryService.h"

namespace lumo {

namespace {

// The simulated Mac's telemetry: printed, never sent.
class PrintingTelemetrySink final : public TelemetrySink {
public:
    void emit(const std::string& name, const JSONObject& data) override {
        const auto text = encodeJSON(JSONValue(data));
        std::printf("Telemetry (simulated, not sent): %s %s\n", name.c_str(), text ? text->c_str() : "{}");
        std::fflush(stdout);
    }
};

struct AppOptions {
    std::optional<std::string> scenarioPath;
    std::optional<std::string> telemetryEndpoint;  // only with a scenario: a test's receiver
};

// The switches exist only for the simulated Mac; the live app reads none.
std::optional<AppOptions> parseOptions(const std::vector<std::string>& arguments, std::string& problem) {
    AppOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--scenario" && hasValue) {
            options.scenarioPath = arguments[++i];
        } else if (argument == "--telemetry-endpoint" && hasValue) {
            options.telemetryEndpoint = arguments[++i];
        } else if (argument.rfind("--", 0) == 0) {
            problem = "unknown option " + argument;
            return std::nullopt;
        }
    }
    if (options.telemetryEndpoint && !options.scenarioPath) {
        problem = "--telemetry-endpoint works only with --scenario";
        return std::nullopt;
    }
    return options;
}

std::unique_ptr<TelemetryService> makeTelemetryService(const AppServices& services, const std::string& endpoint) {
    return std::make_unique<TelemetryService>(
        TelemetryService::liveConfiguration(services.store, services.fs, endpoint));
}

}  // namespace

int runApp(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string problem;
    const auto options = parseOptions(arguments, problem);
    if (!options) {
        std::cerr << "lumora-java: " << problem << "\n"
                  << "usage: lumora-java [--scenario FILE [--telemetry-endpoint URL]] | --doctor ...\n";
        return 2;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromStdString(ProductConfig::current().displayName));
    ui::applyApplicationStyle();

    ui::LumoRootView::Options rootOptions;
    std::unique_ptr<TelemetrySink> ownedSink;
    std::unique_ptr<TelemetryService> ownedService;
    if (options->scenarioPath) {
        const auto scenario = loadScenario(*options->scenarioPath);
        if (!scenario) {
            std::cerr << "lumora-java: " << scenario.error().description << "\n";
            return 2;
        }
        rootOptions.services = makeSimulatedServices(*scenario);
        // The simulated Mac changes when the app changes it: look at it again
        // after every fix, and take the first look on a worker, as at a live
        // Mac, so the window shows at once.
        rootOptions.services.isFixtureMode = false;
        rootOptions.badge =
            QStringLiteral("Simulated Mac · ") + QFileInfo(QString::fromStdString(*options->scenarioPath)).fileName();
        if (options->telemetryEndpoint) {
            ownedService = makeTelemetryService(rootOptions.services, *options->telemetryEndpoint);
            rootOptions.telemetry = ownedService.get();
        } else {
            ownedSink = std::make_unique<PrintingTelemetrySink>();
            rootOptions.telemetry = ownedSink.get();
        }
    } else {
        rootOptions.services = liveAppServices();
        rootOptions.telemetry = &TelemetryService::shared();
    }

    ui::LumoRootView window(rootOptions);
    window.setWindowTitle(QString());
    window.resize(720, 720);
    window.show();
    const int status = QApplication::exec();
    if (ownedService) ownedService->shutdown();
    if (!options->scenarioPath) TelemetryService::shared().shutdown();
    return status;
}

}  // namespace lumo
