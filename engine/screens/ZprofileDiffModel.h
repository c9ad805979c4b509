// The ~/.zprofile sheet's model: the reviewed change of
// writeJavaHomeToZprofile and keepCurrentLegacyJava.
//
// Lives on the main thread, like the streamed sheet's model.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
#include "remediation/FileAppendWriter.h"
#include "screens/StreamingRemediationModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

// The reviewed ~/.zprofile change of writeJavaHomeToZprofile and keepCurrentLegacyJava.
class ZprofileDiffModel : public RemediationSheetModel {
public:
    struct DiffLine {
        std::string text;  // with its "+ " or two-blank prefix
        bool added = false;
        friend bool operator==(const DiffLine&, const DiffLine&) = default;
    };

    ZprofileDiffModel(Remediation remediation, std::shared_ptr<const FileSystemOperating> fs, TelemetrySink& telemetry,
                      RemediationFinish onFinish);

    static constexpr const char* kTitle = "Set `JAVA_HOME` in `~/.zprofile`";
    static constexpr const char* kExplainer =
        "Review the change before we write it. Your current file is backed up to `~/.zprofile.bak`.";
    static constexpr const char* kAlreadySet =
        "Your ~/.zprofile already sets JAVA_HOME via `$(/usr/libexec/java_home)` — no changes needed.";

    // Builds the preview (the sheet's appearance).
    void load();

    const std::optional<FileAppendWriter::DiffPreview>& preview() const { return m_preview; }
    const std::optional<std::string>& loadError() const { return m_loadError; }
    const std::optional<std::string>& applyError() const { return m_applyError; }
    bool didApply() const { return m_didApply; }
    bool showFullFile() const { return m_showFullFile; }

    // "Couldn't read ~/.zprofile: ..." once the preview failed.
    std::string loadErrorText() const;
    // The diff as shown: only the added lines, or the whole proposed file.
    std::vector<DiffLine> diffLines() const;
    std::string toggleTitle() const { return m_showFullFile ? "Show only changes" : "Show full file"; }

    void toggleFullFile();
    void apply();
    void cancel();
    void continueToVerify();
    void closeAfterLoadError();

private:
    Remediation m_remediation;
    ZprofileWriter m_writer;
    std::optional<FileAppendWriter::DiffPreview> m_preview;
    std::optional<std::string> m_loadError;
    std::optional<std::string> m_applyError;
    bool m_didApply = false;
    bool m_showFullFile = false;
};

}  // namespace lumo
