#pragma once
// The calibration history: every saved run, in a local SQLite file (Qt SQL). A run is written whole in
// one transaction and sealed in it, so a crash or a killed process leaves either the whole record or
// nothing; a sealed record is never changed (the file's own triggers refuse it, whoever asks), and a
// correction is a new record that names the one it replaces. The engineer's list of reference
// instruments lives in the same file.
#include "records/run.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace vx::records {

// PRAGMA user_version of the file. 1 lacked corrections, trial runs and stored constants; it is
// brought up to date when opened.
inline constexpr int kHistoryFormat = 2;

struct RunSummary {
    std::int64_t id = 0;
    QString certificate, serial, created, engineer;
    bool trial = false;
    std::optional<std::int64_t> replaces;
    int points = 0, failed = 0;
};

class History {
public:
    History();
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Opens or creates the file (and its folder). False with error() set when it cannot be opened, is not
    // a history file or comes from a newer program; the file is then left as it was.
    bool open(const QString& path);
    bool isOpen() const { return open_; }
    const QString& error() const { return error_; }
    // The data folder's history file.
    static QString defaultPath();

    // Saves a new record (run.id must be 0) and gives it its id and certificate number; today is the
    // ISO date the references are held against. Refused (false, error()) for a record that has an id,
    // for a certificate run with an overdue reference or without an engineer or serial number, and for
    // a correction of a record that does not exist.
    bool save(Run& run, const std::string& today);
    std::optional<Run> load(std::int64_t id);
    // Newest first. serial: part of the serial number (any case); from/to: ISO dates, inclusive, empty
    // for no limit.
    std::vector<RunSummary> find(const QString& serial = {}, const QString& from = {},
                                 const QString& to = {});

    std::vector<Reference> references();
    bool setReferences(const std::vector<Reference>& list);

    // Runs inside a save's transaction after the rows are written, before they are committed. Tests
    // end the process here.
    std::function<void()> beforeCommit;

private:
    bool exec(const QString& sql);
    bool migrate();
    bool fail(const QString& what);

    QString name_;
    QString error_;
    bool open_ = false;
};

} // namespace vx::records
