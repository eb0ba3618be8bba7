#include "startup/KestlinStart.h"

#include "common/Display.h"
#include "common/basCommon.h"
#include "common/files.h"
#include "common/syserror.h"
#include "common/userfolders.h"
#include "settings/SettingsKeys.h"
#include "startup/Interruption.h"
#include "startup/SendSteps.h"
#include "startup/SubmissionRecord.h"
#include "startup/basKestlin_01.h"
#include "startup/frmKestlin_01.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kestlin {

InstanceLock::InstanceLock(const std::string &settingsFolder)
    : lock_(std::make_unique<QLockFile>(QString::fromStdString(LockFilePath(settingsFolder))))
    , path_(LockFilePath(settingsFolder))
{
    // Age alone never makes the lock stale: the first copy may run for days.
    // A lock whose process is gone is still recognised as stale.
    lock_->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::TryLock()
{
    problem_.clear();
    if (lock_->isLocked() || lock_->tryLock(0))
        return true;
    struct stat st = {};
    if (::lstat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        problem_ = "ロックファイルを作成できません。\r\n" + path_ + "\r\n"
                   + "ファイルではないものが、この名前で置かれています。";
        return false;
    }
    if (lock_->error() == QLockFile::LockFailedError)
        return false;
    // Not another copy: the folder refuses the file. Ask the system why with
    // a file of our own, since the lock does not tell.
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    std::string probe = folder + "/.kestlin-XXXXXX";
    int error = EACCES;
    const int fd = ::mkstemp(probe.data());
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
        error = lock_->error() == QLockFile::PermissionError ? EACCES : EIO;
    } else {
        error = errno;
    }
    problem_ = "ロックファイルを作成できません。\r\nフォルダ: " + folder + "\r\n"
               + SystemErrorText(error);
    return false;
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

void RemoveAbandonedWorkSpaces(const std::string &iniFilePath, const std::string &ownLockPath)
{
    const std::string temp = ReadSetting(iniFilePath, SettingKey::SystemTemp);
    if (temp.empty() || !FolderExists(temp))
        return;
    SubmissionRecord record;
    std::string reason;
    const RecordFound found
        = ReadSubmissionRecord(SubmissionRecordPath(iniFilePath), record, reason);
    if (found == RecordFound::Unreadable)
        return; // which folder it keeps is not known
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(temp, ec)) {
        const std::string folder = entry.path().string();
        if (!entry.path().filename().string().starts_with("WorkSpace") || !entry.is_directory(ec)
            || entry.is_symlink(ec) || (found == RecordFound::Found && folder == record.workSpace))
            continue;
        // A folder without the owner's note is not known to be ours.
        std::ifstream note(entry.path() / ".owner", std::ios::binary);
        std::string owner;
        if (!note || !std::getline(note, owner))
            continue;
        if (!owner.empty() && owner.back() == '\r')
            owner.pop_back();
        // The record of another settings file sharing the work folder keeps
        // its folder for that file's next start.
        std::string keeper;
        if (std::getline(note, keeper) && !keeper.empty()) {
            SubmissionRecord kept;
            const RecordFound its = ReadSubmissionRecord(keeper, kept, reason);
            if (its == RecordFound::Unreadable
                || (its == RecordFound::Found && kept.workSpace == folder))
                continue;
        }
        if (owner != ownLockPath) {
            QLockFile other(QString::fromStdString(owner));
            other.setStaleLockTime(0);
            if (!other.tryLock(0))
                continue; // its run is alive
        }
        DelFolder(folder, reason);
    }
}

std::unique_ptr<frmKestlin_01> StartKestlin(Display &display, InstanceLock &lock)
{
    if (!lock.TryLock()) {
        display.ShowMessage(lock.Problem().empty() ? "二重起動はできません。" : lock.Problem(),
                            kAppTitle, MsgIcon::Exclamation);
        return nullptr;
    }
    interruption::Install(true);
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
    // What a run before this one left unfinished, before the window takes work.
    NoAttachments none;
    SendPipeline(display, none, strIniFilePath).RecoverEarlier();
    RemoveAbandonedWorkSpaces(strIniFilePath, InstanceLock::LockFilePath(files.settingsFolder));
    return window;
}

} // namespace kestlin
