// The settings backup reader over arbitrary file contents: it never fails, and whatever it accepts can
// be written again and reads back the same.
#include "app/tools/SettingsBackup.h"

#include <cstdint>
#include <cstdlib>

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vx::app::tools;
    const BackupRead r =
        readBackup(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    check(r.backup.has_value() == (r.problem == BackupProblem::None));
    if (!r.backup) return 0;
    check(unwritableBackupField(*r.backup).isEmpty());
    const BackupRead again = readBackup(writeBackup(*r.backup));
    check(again.backup && again.backup->settings == r.backup->settings &&
          again.backup->firmwareVersion == r.backup->firmwareVersion);
    return 0;
}
