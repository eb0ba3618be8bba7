#include "startup/KestlinStart.h"

#include "common/Display.h"
#include "common/userfolders.h"
#include "startup/basKestlin_01.h"
#include "startup/frmKestlin_01.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <filesystem>
#include <unistd.h>

namespace kestlin {

InstanceLock::InstanceLock(const std::string &settingsFolder)
    : lock_(std::make_unique<QLockFile>(QString::fromStdString(LockFilePath(settingsFolder))))
{
    // Age alone never makes the lock stale: the first copy may run for days.
    // A lock whose process is gone is still recognised as stale.
    lock_->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::TryLock()
{
    return lock_->isLocked() || lock_->tryLock(0);
}

std::string InstanceLock::LockFilePath(const std::string &settingsFolder)
{
    // A job started by cron has no XDG_RUNTIME_DIR, the desktop session of the
    // same user has: both must meet at the same lock.
    QString folder;
    const QString userRuntime = QStringLiteral("/run/user/%1").arg(::getuid());
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && QFileInfo(userRuntime).isDir()
        && QFileInfo(userRuntime).ownerId() == ::getuid())
        folder = userRuntime;
    else
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    // Each settings folder has its own lock, however its path is written.
    std::error_code ec;
    std::string canonical = std::filesystem::weakly_canonical(settingsFolder, ec).string();
    if (ec || settingsFolder.empty())
        canonical = settingsFolder;
    const QByteArray key
        = QCryptographicHash::hash(QByteArray::fromStdString(canonical), QCryptographicHash::Sha1)
              .toHex()
              .left(16);
    return QDir(folder)
        .filePath(QStringLiteral("kestlin-%1.lock").arg(QString::fromLatin1(key)))
        .toStdString();
}

std::unique_ptr<frmKestlin_01> StartKestlin(Display &display, InstanceLock &lock)
{
    if (!lock.TryLock()) {
        display.ShowMessage("二重起動はできません。", kAppTitle, MsgIcon::Exclamation);
        return nullptr;
    }
    if (!FncChkDll(display))
        return nullptr;
    std::string msg;
    if (!FncChkVersion(msg)) {
        if (!msg.empty())
            display.ShowMessage(msg, kAppTitle, MsgIcon::Exclamation);
        return nullptr;
    }
    // An installed copy keeps each user's files in folders of their own.
    const FileLocations files = LocateFiles();
    if (!MakeUserFolders(files, msg)) {
        display.ShowMessage(msg, kAppTitle, MsgIcon::Exclamation);
        return nullptr;
    }
    strIniFilePath = IniFilePathIn(files.settingsFolder);

    auto window = std::make_unique<frmKestlin_01>(display, strIniFilePath);
    if (!window->Form_Load())
        return nullptr;
    window->ShowCentred();
    return window;
}

} // namespace kestlin
