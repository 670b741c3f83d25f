#include "shell/ConfigSystemServices.h"

#include "netcheck/ReminderDialog.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QInputDialog>

#include "platform/Socket.h"

namespace kbr {

int ConfigSystemServices::ShowBox(const MessageBoxRequest& request) { return RunMessageBox(request); }

std::optional<QString> ConfigSystemServices::AskText(const TextRequest& request) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(nullptr, request.caption, request.label, QLineEdit::Normal, request.text, &ok);
    if (!ok) return std::nullopt;
    return text;
}

QStringList ConfigSystemServices::ChooseFiles(const FileRequest& request) {
    return request.engineDialog ? request.engineDialog() : QStringList();
}

void ConfigSystemServices::OpenExternal(const QUrl& url) { QDesktopServices::openUrl(url); }

const PageLibrary* ConfigSystemServices::Pages() {
    if (!pages_) {
        const auto path = FindPageLibrary();
        if (!path) return nullptr;
        pages_.emplace();
        (void)pages_->Load(*path);  // a damaged library serves nothing
    }
    return &*pages_;
}

void ConfigSystemServices::ShowReminder() { (void)kbr::ShowReminder(*this, nullptr); }

bool ConfigSystemServices::InitSockets() {
    // Version 1.1 exactly: a system that offers only another version counts as a failure.
    const platform::SocketsStart sockets = platform::StartSockets(1, 1);
    if (!sockets.started) return false;
    if (sockets.major != 1 || sockets.minor != 1) {
        platform::StopSockets();
        return false;
    }
    return true;
}

std::vector<platform::ProcessInfo> ConfigSystemServices::FindProcesses(std::string_view name) {
    return platform::FindProcessesByName(name);
}

bool ConfigSystemServices::TerminateAndWait(int64_t pid) { return platform::TerminateAndWait(pid); }

void ConfigSystemServices::StartHidden(const std::string& program, const std::vector<std::string>& args) {
    platform::StartOptions options;
    options.hidden = true;
    options.wait = false;
    std::string path = program;
    if (QFileInfo::exists(QString::fromStdString(program))) {
        path = "./" + program;
    } else if (QCoreApplication::instance() &&
               QFileInfo::exists(QCoreApplication::applicationDirPath() + "/" + QString::fromStdString(program))) {
        path = (QCoreApplication::applicationDirPath() + "/" + QString::fromStdString(program)).toStdString();
    } else {
        options.searchPath = true;
    }
    (void)platform::StartProcess(path, args, options);  // its result is not looked at
}

}  // namespace kbr
