// The ~/.zprofile sheet's model: the reviewed change of
// writeJavaHomeToZprofile and keepCurrentLegacyJava.
//
// Lives on the main thread, like the streamed sheet's model. Building the
// preview (it runs java_home and reads the start-up files) and applying it
// run on a worker through BackgroundWork; the model is busy meanwhile and
// takes the result back on the main thread. Without a BackgroundWork (tests)
// the work runs at once.
//
// Besides the block for ~/.zprofile, the preview names lines of files zsh
// reads later (~/.zshrc, ~/.zlogin) that would set JAVA_HOME to another JDK
// or put another java first on PATH, and offers to comment them out with the
// same diff, backup and Apply (commentOutLater, on unless the user unticks it).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diagnosis/Remediation.h"
#include "platform/AppServices.h"
#include "remediation/ZprofileWriter.h"
#include "screens/DiagnoseViewModel.h"
#include "screens/StreamingRemediationModel.h"
#include "telemetry/TelemetrySink.h"

namespace lumo {

class ZprofileDiffModel : public RemediationSheetModel {
public:
    struct DiffLine {
        std::string text;  // with its "+ ", "- " or two-blank prefix; a heading as it is
        bool added = false;
        bool removed = false;
        bool heading = false;  // the file (and lines) the following lines change
        friend bool operator==(const DiffLine&, const DiffLine&) = default;
    };

    // `files` defaults to zsh's start-up files in the fix's start-up directory
    // (ZDOTDIR), else in the home directory.
    ZprofileDiffModel(Remediation remediation, AppServices services, TelemetrySink& telemetry,
                      RemediationFinish onFinish, BackgroundWork* background = nullptr,
                      std::optional<StartupFiles> files = std::nullopt);
    ~ZprofileDiffModel() override;
    ZprofileDiffModel(const ZprofileDiffModel&) = delete;
    ZprofileDiffModel& operator=(const ZprofileDiffModel&) = delete;

    // "Set `JAVA_HOME` in `~/.zprofile`".
    std::string title() const;
    // "Review the change before we write it. Your current file is backed up to `~/.zprofile.bak`."
    std::string explainer() const;

    // Builds the preview (the sheet's appearance).
    void load();

    bool isBusy() const { return m_loading || m_applying; }
    bool isApplying() const { return m_applying; }
    // "Reading ~/.zprofile…" or "Writing the change…" while busy.
    std::string busyText() const;

    const std::optional<ZprofileWriter::Preview>& preview() const { return m_preview; }
    const std::optional<Error>& loadError() const { return m_loadError; }
    const std::optional<std::string>& applyError() const { return m_applyError; }
    bool didApply() const { return m_didApply; }
    bool showFullFile() const { return m_showFullFile; }
    bool commentOutLater() const { return m_commentOutLater; }
    // The preview has nothing to change: the "already set" state.
    bool nothingToDo() const { return m_preview && m_preview->nothingToDo(); }

    // "Couldn't read ~/.zprofile: ..." once the preview failed, or the
    // refusal's own sentence (read-only, not a regular file, too large).
    std::string loadErrorText() const;
    // The line above the diff: already set, created, or nothing.
    std::string statusText() const;
    // Said when a file changed has other hard links (written in place).
    std::string hardLinkText() const;
    // "Backup: `~/.zprofile.bak`" (one entry per file the change writes).
    std::string backupText() const;
    // The lines of later files that would undo the change, one sentence each,
    // then the notes about later files that could not be checked.
    std::vector<std::string> laterFileTexts() const;
    // The checkbox that includes the comment-outs; empty when there are none.
    std::string commentOutTitle() const;
    // After Apply: "Updated ~/.zprofile; backup at ~/.zprofile.bak." and one
    // line per later file changed.
    std::vector<std::string> confirmationLines() const { return m_confirmation; }

    // The diff as shown: only the changes, or the whole proposed ~/.zprofile;
    // the later files' changes follow under their headings when included.
    std::vector<DiffLine> diffLines() const;
    std::string toggleTitle() const { return m_showFullFile ? "Show only changes" : "Show full file"; }

    bool canApply() const;

    void toggleFullFile();
    void setCommentOutLater(bool on);
    void apply();
    void cancel();
    void continueToVerify();
    void closeAfterLoadError();

private:
    void run(std::function<std::function<void(ZprofileDiffModel&)>()> work);
    void applied(const ZprofileWriter::Applied& result, const ZprofileWriter::Preview& preview, bool laterIncluded);
    std::string display(const std::string& path) const;
    std::string profileDisplay() const;
    std::vector<std::size_t> laterLineNumbers(const std::string& path) const;

    Remediation m_remediation;
    ZprofileWriter m_writer;
    BackgroundWork* m_background;
    std::shared_ptr<ZprofileDiffModel*> m_lifetime;

    std::optional<ZprofileWriter::Preview> m_preview;
    std::optional<Error> m_loadError;
    std::optional<std::string> m_applyError;
    std::vector<std::string> m_confirmation;
    bool m_loading = false;
    bool m_applying = false;
    bool m_didApply = false;
    bool m_showFullFile = false;
    bool m_commentOutLater = true;
};

}  // namespace lumo
