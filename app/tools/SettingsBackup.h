#pragma once
// A unit's settings with its identification in a small, versioned JSON file, so an engineer can keep
// them and load them into the next unit. Numbers are written with a full stop whatever the locale.
#include "app/tools/SettingsSafety.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace vx::app::tools {

inline constexpr int kBackupVersion = 1;

struct Backup {
    int variant = 0;                   // iTypeOfInstrument: 0 "VX2207 V", 1 "VX2207 M"
    std::uint32_t firmwareVersion = 0; // yyyymmdd
    int boardIdentifier = 0;
    QString calibrationDate; // as the window shows it ("2014-10-06", or "?")
    QString savedAt;         // ISO 8601 local time with offset
    SettingsValues settings;
};

QByteArray writeBackup(const Backup& backup);

enum class BackupProblem {
    None,
    Unreadable,   // not JSON (truncated, damaged, another kind of file)
    NotABackup,   // JSON, but not this program's settings file
    NewerVersion, // written by a newer program
    MissingField, // `field` is absent
    BadValue      // `field` has the wrong type or a value the instrument cannot hold
};
struct BackupRead {
    std::optional<Backup> backup;
    BackupProblem problem = BackupProblem::None;
    QString field; // the field the problem is in, if any
};
BackupRead readBackup(const QByteArray& text);

// The first field (as the file names it) whose value the file cannot hold so that it reads back the
// same, such as a code beyond the known ones; empty when the backup can be saved.
QString unwritableBackupField(const Backup& backup);

} // namespace vx::app::tools
