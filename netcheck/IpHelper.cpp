#include "netcheck/IpHelper.h"

#include "platform/ProgramNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace kbr {

namespace {

constexpr const char* HELPER_NAME = platform::IP_HELPER_EXECUTABLE;

constexpr int START_WAIT_MS = 10'000;
constexpr int KILL_WAIT_MS = 5'000;

bool IsProgram(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

}  // namespace

QString IpHelperProgram() {
    const QString name = QString::fromLatin1(HELPER_NAME);
    QString inCurrent = QDir::current().absoluteFilePath(name);
    if (IsProgram(inCurrent)) return inCurrent;
    if (QCoreApplication::instance()) {
        QString beside = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(name);
        if (IsProgram(beside)) return beside;
    }
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? name : onPath;
}

void RunHelperAndWait(const QString& program, const QStringList& arguments, const QString& workingDirectory,
                      int timeLimitMs) {
    QProcess helper;
    helper.setProgram(program);
    helper.setArguments(arguments);
    if (!workingDirectory.isEmpty()) helper.setWorkingDirectory(workingDirectory);
    helper.setStandardInputFile(QProcess::nullDevice());
    helper.setStandardOutputFile(QProcess::nullDevice());
    helper.setStandardErrorFile(QProcess::nullDevice());
    helper.start();
    if (!helper.waitForStarted(START_WAIT_MS)) return;
    if (helper.waitForFinished(timeLimitMs)) return;
    if (helper.state() == QProcess::NotRunning) return;
    helper.kill();
    helper.waitForFinished(KILL_WAIT_MS);
}

bool StartIpHelperInBackground() {
    QProcess helper;
    helper.setProgram(IpHelperProgram());
    helper.setArguments({QStringLiteral("1")});
    helper.setStandardInputFile(QProcess::nullDevice());
    helper.setStandardOutputFile(QProcess::nullDevice());
    helper.setStandardErrorFile(QProcess::nullDevice());
    return helper.startDetached();
}

}  // namespace kbr
