#include "app/tools/SettingsBackup.h"

#include "instrument/codes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>

namespace vx::app::tools {
namespace ins = vx::instrument;

namespace {
const QString kFormat = QStringLiteral("VX2207 settings");

constexpr std::array<const char*, 2> kTypes{"current", "voltage"};
constexpr std::array<const char*, 2> kProtocols{"RTU", "ASCII"};
constexpr std::array<const char*, 3> kParities{"none", "even", "odd"};
constexpr std::array<int, 6> kBaudRates{2400, 4800, 9600, 14400, 19200, 38400};
constexpr std::array<const char*, 2> kVariants{"VX2207 V", "VX2207 M"};

// The single as its shortest decimal text, so 0.1 stays 0.1 in the file rather than 0.100000001490116.
double shortest(float v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    double d = 0;
    std::from_chars(buf, r.ptr, d);
    return d;
}

template <std::size_t N> QString word(const std::array<const char*, N>& words, std::size_t index) {
    return index < N ? QString::fromLatin1(words[index]) : QString();
}

// Reads one field; the first problem met is kept and later reads do nothing.
class Reader {
public:
    explicit Reader(BackupRead& out) : out_(out) {}
    bool ok() const { return out_.problem == BackupProblem::None; }
    QJsonValue take(const QJsonObject& o, const char* key) {
        if (!ok()) return {};
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined()) fail(BackupProblem::MissingField, key);
        return v;
    }
    template <std::size_t N>
    int oneOf(const QJsonObject& o, const char* key, const std::array<const char*, N>& words) {
        const QJsonValue v = take(o, key);
        for (std::size_t i = 0; ok() && i < N; ++i)
            if (v.toString() == QLatin1String(words[i])) return static_cast<int>(i);
        fail(BackupProblem::BadValue, key);
        return 0;
    }
    float single(const QJsonObject& o, const char* key) {
        const QJsonValue v = take(o, key);
        if (ok() && (!v.isDouble() || !std::isfinite(v.toDouble()) || std::fabs(v.toDouble()) > FLT_MAX))
            fail(BackupProblem::BadValue, key);
        return ok() ? static_cast<float>(v.toDouble()) : 0.0f;
    }
    int integer(const QJsonObject& o, const char* key, int min, int max) {
        const QJsonValue v = take(o, key);
        const double d = v.toDouble(-1e300);
        if (ok() && (!v.isDouble() || d != std::floor(d) || d < min || d > max))
            fail(BackupProblem::BadValue, key);
        return ok() ? static_cast<int>(d) : 0;
    }
    QString text(const QJsonObject& o, const char* key) {
        const QJsonValue v = take(o, key);
        if (ok() && !v.isString()) fail(BackupProblem::BadValue, key);
        return v.toString();
    }
    QJsonObject object(const QJsonObject& o, const char* key) {
        const QJsonValue v = take(o, key);
        if (ok() && !v.isObject()) fail(BackupProblem::BadValue, key);
        return v.toObject();
    }
    void fail(BackupProblem p, const char* field) {
        if (!ok()) return;
        out_.problem = p;
        out_.field = QString::fromLatin1(field);
    }

private:
    BackupRead& out_;
};
} // namespace

QByteArray writeBackup(const Backup& b) {
    const SettingsValues& s = b.settings;
    const auto type = [](std::uint8_t code) {
        return word(kTypes, static_cast<std::size_t>(code - ins::kTypeCurrent));
    };
    QJsonObject settings{
        {QStringLiteral("inputType"), type(s.inputType)},
        {QStringLiteral("inputLow"), shortest(s.inputLow)},
        {QStringLiteral("inputHigh"), shortest(s.inputHigh)},
        {QStringLiteral("outputType"), type(s.outputType)},
        {QStringLiteral("outputLow"), shortest(s.outputLow)},
        {QStringLiteral("outputHigh"), shortest(s.outputHigh)},
        {QStringLiteral("modbusProtocol"), word(kProtocols, s.modbusProtocol)},
        {QStringLiteral("modbusParity"), word(kParities, s.modbusParity)},
        {QStringLiteral("modbusBaudRate"),
         s.modbusBaudRate < kBaudRates.size() ? kBaudRates[s.modbusBaudRate] : 0},
        {QStringLiteral("modbusAddress"), int{s.modbusAddress}},
    };
    QJsonObject instrument{
        {QStringLiteral("variant"), word(kVariants, static_cast<std::size_t>(b.variant))},
        {QStringLiteral("firmware"),
         QString::fromStdString(ins::firmwareVersionText(b.firmwareVersion)).mid(1)},
        {QStringLiteral("board"), b.boardIdentifier},
        {QStringLiteral("calibrated"), b.calibrationDate},
    };
    QJsonObject root{{QStringLiteral("format"), kFormat},
                     {QStringLiteral("version"), kBackupVersion},
                     {QStringLiteral("saved"), b.savedAt},
                     {QStringLiteral("instrument"), instrument},
                     {QStringLiteral("settings"), settings}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

BackupRead readBackup(const QByteArray& text) {
    BackupRead out;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        out.problem = BackupProblem::Unreadable;
        return out;
    }
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toString() != kFormat) {
        out.problem = BackupProblem::NotABackup;
        return out;
    }
    Reader r(out);
    const int version = r.integer(root, "version", 1, INT32_MAX);
    if (r.ok() && version > kBackupVersion) {
        out.problem = BackupProblem::NewerVersion;
        return out;
    }
    Backup b;
    const QJsonObject instrument = r.object(root, "instrument");
    b.variant = r.oneOf(instrument, "variant", kVariants);
    const QString firmware = r.text(instrument, "firmware");
    if (r.ok()) {
        const QStringList ymd = firmware.split(QLatin1Char('-'));
        bool okY = false, okM = false, okD = false;
        if (ymd.size() == 3) {
            const int y = ymd[0].toInt(&okY), m = ymd[1].toInt(&okM), d = ymd[2].toInt(&okD);
            if (okY && okM && okD && y >= 0 && y <= 65535 && m >= 0 && m <= 255 && d >= 0 && d <= 255)
                b.firmwareVersion =
                    ins::firmwareVersion(static_cast<std::uint16_t>(y), static_cast<std::uint8_t>(m),
                                         static_cast<std::uint8_t>(d));
            else
                okY = false;
        }
        if (!okY) r.fail(BackupProblem::BadValue, "firmware");
    }
    b.boardIdentifier = r.integer(instrument, "board", 0, 255);
    b.calibrationDate = r.text(instrument, "calibrated");
    b.savedAt = r.text(root, "saved");

    const QJsonObject s = r.object(root, "settings");
    SettingsValues& v = b.settings;
    v.inputType = static_cast<std::uint8_t>(ins::kTypeCurrent + r.oneOf(s, "inputType", kTypes));
    v.inputLow = r.single(s, "inputLow");
    v.inputHigh = r.single(s, "inputHigh");
    v.outputType = static_cast<std::uint8_t>(ins::kTypeCurrent + r.oneOf(s, "outputType", kTypes));
    v.outputLow = r.single(s, "outputLow");
    v.outputHigh = r.single(s, "outputHigh");
    v.modbusProtocol = static_cast<std::uint8_t>(r.oneOf(s, "modbusProtocol", kProtocols));
    v.modbusParity = static_cast<std::uint8_t>(r.oneOf(s, "modbusParity", kParities));
    const int baud = r.integer(s, "modbusBaudRate", 0, INT32_MAX);
    for (std::size_t i = 0; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == baud) v.modbusBaudRate = static_cast<std::uint8_t>(i + 1);
    if (r.ok() && v.modbusBaudRate == 0) r.fail(BackupProblem::BadValue, "modbusBaudRate");
    v.modbusBaudRate = static_cast<std::uint8_t>(v.modbusBaudRate - 1);
    v.modbusAddress =
        static_cast<std::uint8_t>(r.integer(s, "modbusAddress", 0, ins::kModbusAddressCount - 1));
    if (r.ok()) out.backup = b;
    return out;
}

QString unwritableBackupField(const Backup& b) {
    // The reader holds the format's rules; a backup is writable when it survives the round trip.
    const BackupRead r = readBackup(writeBackup(b));
    if (!r.backup) return r.field.isEmpty() ? QStringLiteral("format") : r.field;
    const Backup& back = *r.backup;
    if (back.variant != b.variant) return QStringLiteral("variant");
    if (back.firmwareVersion != b.firmwareVersion) return QStringLiteral("firmware");
    if (back.boardIdentifier != b.boardIdentifier) return QStringLiteral("board");
    if (back.calibrationDate != b.calibrationDate) return QStringLiteral("calibrated");
    static constexpr const char* kKeys[kSettingFieldCount] = {
        "inputType",  "inputLow",       "inputHigh",    "outputType",     "outputLow",
        "outputHigh", "modbusProtocol", "modbusParity", "modbusBaudRate", "modbusAddress"};
    if (const auto changed = changedSettings(back.settings, b.settings); !changed.empty())
        return QString::fromLatin1(kKeys[static_cast<int>(changed.front())]);
    return {};
}

} // namespace vx::app::tools
