#pragma once
// The configuration program's real surroundings: Qt's boxes and dialogs, the desktop's browser,
// the page library found on disk, the Reminder, the platform's processes.

#include "browser/PageLibrary.h"
#include "shell/ConfigServices.h"

#include <optional>

namespace kbr {

class ConfigSystemServices : public ConfigServices {
public:
    int ShowBox(const MessageBoxRequest& request) override;
    std::optional<QString> AskText(const TextRequest& request) override;
    QStringList ChooseFiles(const FileRequest& request) override;
    void OpenExternal(const QUrl& url) override;
    // PgPack.dll from the current directory, else from the installation's data directory; looked
    // for until found, then read once and kept.
    const PageLibrary* Pages() override;

    void ShowReminder() override;

    [[nodiscard]] bool InitSockets() override;
    std::vector<platform::ProcessInfo> FindProcesses(std::string_view name) override;
    bool TerminateAndWait(int64_t pid) override;
    void StartHidden(const std::string& program, const std::vector<std::string>& args) override;

private:
    std::optional<PageLibrary> pages_;
};

}  // namespace kbr
