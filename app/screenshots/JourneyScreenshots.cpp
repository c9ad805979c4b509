// The Java journey's pages for lumora-screenshots: the diagnose screen in each
// state and layout, the remediation sheet in each of its states, and the
// verify pages. Each runs on a simulated Mac.
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <functional>
#include <thread>

#include "DiagnoseView.h"
#include "JavaProduct.h"
#include "RemediationProgressView.h"
#include "Screenshots.h"
#include "StreamingRemediationView.h"
#include "remediation/HomebrewInstaller.h"
#include "remediation/MiseRunner.h"
#include "simulated/SimulatedServices.h"

namespace lumo::ui {

namespace {

class LaterScheduler : public DelayScheduling {
public:
    void schedule(std::chrono::milliseconds, std::function<void()>) override {}
};

void settleJourney(int milliseconds = 60) {
    QElapsedTimer timer;
    timer.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    } while (timer.elapsed() < milliseconds);
}

bool waitUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 8000) settleJourney(5);
    return condition();
}

Scenario journeyScenario(const char* name) {
    auto loaded = loadScenario(std::string(LUMO_SOURCE_DIR) + "/scenarios/" + name);
    if (!loaded) {
        std::fprintf(stderr, "%s\n", loaded.error().description.c_str());
        return {};
    }
    return *loaded;
}

const std::vector<std::string> kBrewTranscript = {
    "==> Downloading https://github.com/adoptium/temurin25-binaries/releases/download/jdk-25%2B36/"
    "OpenJDK25U-jdk_aarch64_mac_hotspot_25_36.pkg",
    "==> Downloading from https://objects.githubusercontent.com/github-production-release-asset-2e65be/…",
    "######################################################################## 100.0%",
    "==> Installing Cask temurin@25",
    "==> Running installer for temurin@25 with sudo; the password may be necessary.",
    "installer: Package name is Eclipse Temurin",
    "installer: Installing at base path /",
    "installer: The install was successful.",
    "🍺  temurin@25 was successfully installed!"};

struct Shooter {
    QString directory;
    int failures = 0;
    LaterScheduler scheduler;
    AppNavigation navigation;
    ProfileStore profiles;

    UIEnvironment environment(const Scenario& mac) {
        UIEnvironment env;
        env.services = makeSimulatedServices(mac);
        env.navigation = &navigation;
        env.telemetry = &silentTelemetry();
        env.profile = &profiles;
        env.scheduler = &scheduler;
        env.openURL = [](const std::string&) {};
        profiles.publish(SystemProfiler(env.services, [](const std::string&) {}).profile());
        return env;
    }

    void save(QWidget& widget, const char* name, bool settle = true) {
        if (settle) settleJourney();
        if (!savePicture(widget, directory, QString::fromLatin1(name))) ++failures;
    }

    static void press(QWidget& root, const char* identifier) {
        if (auto* target = root.findChild<QAbstractButton*>(QString::fromLatin1(identifier))) target->click();
        settleJourney(30);
    }

    // A diagnose screen on `mac`, after `prepare`.
    void page(const char* name, const Scenario& mac, const std::function<void(DiagnoseView&)>& prepare = {},
              DiagnoseView::Options options = {}) {
        DiagnoseView view(environment(mac), std::move(options));
        view.resize(720, 720);
        view.show();
        settleJourney();
        if (prepare) prepare(view);
        save(view, name);
    }

    // A remediation sheet over a window, after `prepare`.
    // (A sheet that has reported closes itself, so such a state is grabbed at once.)
    void sheet(const char* name, const Scenario& mac, const Remediation& fix,
               const std::function<void(RemediationProgressView&)>& prepare = {}, bool settle = true) {
        QWidget window;
        window.resize(720, 720);
        window.show();
        QPointer<RemediationProgressView> sheetView = new RemediationProgressView(
            fix, environment(mac), [](const RemediationOutcome&) {}, &window);
        sheetView->present();
        settleJourney();
        if (prepare) prepare(*sheetView);
        if (sheetView) save(*sheetView, name, settle);
        if (sheetView) delete sheetView.data();
    }
};

}  // namespace

int shootJourneyPages(const QString& directory) {
    ProductConfig::setCurrent(lumoraJava());
    Shooter shoot;
    shoot.directory = directory;
    using State = DiagnoseViewModel::State;

    // Diagnosing: a profiler that takes a while.
    {
        Scenario mac = journeyScenario("no-jdk.json");
        mac.commands.push_back({{"/usr/bin/uname", "-m"}, "arm64\n", "", 0, 1500, std::nullopt, 0});
        AppServices services = makeSimulatedServices(mac);
        services.isFixtureMode = false;
        UIEnvironment env = shoot.environment(mac);
        env.services = services;
        DiagnoseView view(env);
        view.resize(720, 720);
        view.show();
        shoot.save(view, "50-diagnose-probing");
        waitUntil([&] { return !view.flow().viewModel().state().is<State::Probing>(); });
    }
    shoot.page("51-diagnose-d1-no-jdk", journeyScenario("no-jdk.json"));
    shoot.page("52-diagnose-d1-java-17-chosen", journeyScenario("no-jdk.json"),
               [](DiagnoseView& view) { Shooter::press(view, "diagnosis-d1-pick-java-17"); });
    shoot.page("53-diagnose-d2-home-unset", journeyScenario("java-home-unset.json"));
    shoot.page("54-diagnose-d2-choosing-fix", journeyScenario("java-home-unset.json"), [](DiagnoseView& view) {
        const auto* diagnosed = view.flow().viewModel().state().as<State::Diagnosed>();
        if (diagnosed)
            view.flow().viewModel().setState(State::diagnosed(diagnosed->diagnosis, std::nullopt, std::nullopt));
    });
    shoot.page("55-diagnose-d3-legacy-only", journeyScenario("legacy-only.json"));
    shoot.page("56-diagnose-d4-score-card", journeyScenario("java-ok.json"));
    shoot.page("57-diagnose-unknown", journeyScenario("malformed-jdk.json"));

    // The sheet in its states.
    Scenario brewMac = journeyScenario("no-jdk.json");
    brewMac.files["/opt/homebrew/bin/brew"] = ScenarioFile::program("brew");
    Scenario slowBrew = brewMac;
    slowBrew.commands.push_back(ScenarioCommand::streaming(
        {"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"}, kBrewTranscript, 0, 400));
    shoot.sheet("60-sheet-running", slowBrew, Remediation::installTemurinViaBrew("temurin@25"),
                [](RemediationProgressView& sheet) {
                    waitUntil([&] { return sheet.streaming()->model().lines().size() >= 4; });
                });
    shoot.sheet(
        "61-sheet-canceling", slowBrew, Remediation::installTemurinViaBrew("temurin@25"),
        [](RemediationProgressView& sheet) {
            waitUntil([&] { return sheet.streaming()->model().lines().size() >= 2; });
            sheet.streaming()->model().cancel();
        },
        /*settle=*/false);
    Scenario fastBrew = brewMac;
    fastBrew.commands.push_back(
        ScenarioCommand::streaming({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@25"}, kBrewTranscript, 0));
    shoot.sheet("62-sheet-success", fastBrew, Remediation::installTemurinViaBrew("temurin@25"),
                [](RemediationProgressView& sheet) {
                    waitUntil([&] { return sheet.streaming()->model().exitCode().has_value(); });
                });
    Scenario retry = brewMac;
    retry.commands.push_back(
        ScenarioCommand::streaming({"/opt/homebrew/bin/brew", "install", "--cask", "temurin@21"},
                                   {"Warning: Not upgrading temurin@21, the latest version is already installed"}, 0));
    retry.commands.push_back(
        ScenarioCommand::streaming({"/opt/homebrew/bin/brew", "reinstall", "--cask", "temurin@21"},
                                   {"==> Reinstalling Cask temurin@21", "installer: The install was successful."}, 0));
    shoot.sheet("63-sheet-retry-line", retry, Remediation::installTemurinViaBrew("temurin@21"),
                [](RemediationProgressView& sheet) {
                    waitUntil([&] { return sheet.streaming()->model().exitCode().has_value(); });
                });
    Scenario failing = journeyScenario("no-jdk.json");
    failing.administrator = false;  // the install script stops: "Need sudo access on macOS"
    shoot.sheet("64-sheet-failure", failing, Remediation::installHomebrewThenTemurin("temurin@25"),
                [](RemediationProgressView& sheet) {
                    waitUntil([&] { return sheet.streaming()->model().exitCode().has_value(); });
                });
    Scenario mise = journeyScenario("no-jdk.json");
    mise.files["/usr/local/bin/mise"] = ScenarioFile::program("mise");
    shoot.sheet("65-sheet-zshrc-follow-up", mise, Remediation::installViaMise("temurin-25"),
                [](RemediationProgressView& sheet) {
                    waitUntil([&] { return sheet.streaming()->model().followUpPending(); });
                });
    shoot.sheet("66-sheet-zshrc-skipped", mise, Remediation::installViaMise("temurin-25"),
                [](RemediationProgressView& sheet) {
                    waitUntil([&] { return sheet.streaming()->model().followUpPending(); });
                    sheet.streaming()->model().skipZshrc();
                });
    const Remediation zprofile =
        Remediation::writeJavaHomeToZprofile("/Library/Java/JavaVirtualMachines/temurin-21.jdk/Contents/Home");
    shoot.sheet("67-zprofile-diff", journeyScenario("java-home-unset.json"), zprofile);
    shoot.sheet("68-zprofile-full-file", journeyScenario("java-home-unset.json"), zprofile,
                [](RemediationProgressView& sheet) { Shooter::press(sheet, "zprofile-toggle-full-file"); });
    shoot.sheet("69-zprofile-applied", journeyScenario("java-home-unset.json"), zprofile,
                [](RemediationProgressView& sheet) { Shooter::press(sheet, "zprofile-apply"); });
    Scenario created = journeyScenario("no-jdk.json");
    shoot.sheet("70-zprofile-created", created, zprofile);
    Scenario already = journeyScenario("java-home-unset.json");
    already.files["/Users/alex/.zprofile"] = ScenarioFile::text("export JAVA_HOME=$(/usr/libexec/java_home)\n");
    shoot.sheet("71-zprofile-already-set", already, zprofile);
    Scenario unreadable = journeyScenario("java-home-unset.json");
    unreadable.files["/Users/alex/.zprofile"] = ScenarioFile::bytes("export A=\xff\xfe\n");
    shoot.sheet("72-zprofile-read-error", unreadable, zprofile);
    Scenario overridden = journeyScenario("java-home-unset.json");
    overridden.files["/Users/alex/.zshrc"] =
        ScenarioFile{"export PATH=\"$HOME/bin:$PATH\"\nexport JAVA_HOME=/opt/old-jdk\n", false, false};
    shoot.sheet("72b-zprofile-later-line", overridden, zprofile);

    // Verify pages.
    const Remediation install = Remediation::installTemurinViaBrew("temurin@25");
    const auto verified = [&](const char* name, const Remediation& fix, Verifier::Result result) {
        shoot.page(name, journeyScenario("no-jdk.json"),
                   [&](DiagnoseView& view) { view.flow().viewModel().setState(State::verified(fix, result)); });
    };
    {
        DiagnoseView::Options slow;
        slow.verify = [](std::optional<int>) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            return Verifier::Result{};
        };
        shoot.page(
            "80-verifying", journeyScenario("no-jdk.json"),
            [&](DiagnoseView& view) { view.flow().viewModel().setState(State::verifying(install)); }, slow);
        settleJourney(1500);
    }
    const std::string banner =
        "openjdk version \"25\" 2025-09-16 LTS\nOpenJDK Runtime Environment Temurin-25+36 (build 25+36-LTS)\n"
        "OpenJDK 64-Bit Server VM Temurin-25+36 (build 25+36-LTS, mixed mode, sharing)";
    // A JAVA_HOME that a new Terminal window finds with an executable bin/java.
    const auto withJDK = [](Verifier::Result result) {
        result.terminal.javaHomeHasJava = true;
        return result;
    };
    verified("81-verified-passed", install,
             withJDK({banner, 0, "/Library/Java/JavaVirtualMachines/temurin-25.jdk/Contents/Home"}));
    verified("82-verified-needs-java-home", install, {banner, 0, std::nullopt});
    verified("83-verified-failed", install, {"zsh:1: command not found: java", 127, std::nullopt});
    verified("84-verified-configuration-failed", zprofile, {"", 127, std::nullopt});
    verified("85-verified-legacy-warning",
             Remediation::keepCurrentLegacyJava("/Library/Java/JavaVirtualMachines/jdk1.8.0_392.jdk/Contents/Home"),
             withJDK({"java version \"1.8.0_392\"\nJava(TM) SE Runtime Environment (build 1.8.0_392-b08)", 0,
                      "/Library/Java/JavaVirtualMachines/jdk1.8.0_392.jdk/Contents/Home"}));
    shoot.page("86-completed", journeyScenario("no-jdk.json"),
               [](DiagnoseView& view) { view.flow().viewModel().setState(State::completed("Warp installed.")); });
    shoot.page("87-error", journeyScenario("no-jdk.json"), [](DiagnoseView& view) {
        view.flow().viewModel().setState(State::error(
            "Install failed (exit code 1). The article at [Brimwell](https://brimwell.example/java/unable-to-locate) "
            "may help."));
    });
    return shoot.failures;
}

}  // namespace lumo::ui
