#include "app/tools/SettingsBackup.h"
#include "app/tools/SettingsSafety.h"
#include "common/pictureformat.h"
#include "instrument/codes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace vx::app;
using namespace vx::app::tools;
namespace ins = vx::instrument;

namespace {
SettingsValues stored() {
    return {ins::kTypeCurrent, ins::kTypeCurrent, 4.0f, 20.0f, 4.0f, 20.0f, 0, 1, 2, 0};
}
} // namespace

TEST(SettingsSafety, ChangedFieldsCompareWhatWouldBeSent) {
    SettingsValues edited = stored();
    EXPECT_TRUE(changedSettings(edited, stored()).empty());
    edited.inputHigh = 0.1f;
    edited.outputType = ins::kTypeVoltage;
    edited.modbusAddress = 17;
    EXPECT_EQ(changedSettings(edited, stored()),
              (std::vector<SettingField>{SettingField::InputHigh, SettingField::OutputType,
                                         SettingField::ModbusAddress}));
    edited = stored();
    edited.outputLow = -0.0f; // a write of -0 stores what 0 is
    SettingsValues zero = stored();
    zero.outputLow = 0.0f;
    EXPECT_TRUE(changedSettings(edited, zero).empty());
}

TEST(SettingsSafety, SuspiciousSettingsWithTheirReasons) {
    struct Case {
        const char* inLow;
        const char* inHigh;
        const char* outLow;
        const char* outHigh;
        int outputType; // editor item
        bool analogue;
        std::vector<std::pair<SettingField, SuspicionReason>> expected;
    } cases[] = {
        {"4", "20", "4", "20", 0, true, {}},
        {"4", "4.0", "0", "22", 0, true, {{SettingField::InputHigh, SuspicionReason::ZeroSpan}}},
        {"4", "20", "4", "abc", 0, true, {{SettingField::OutputHigh, SuspicionReason::NotANumber}}},
        {"4", "20", "4", "1e39", 0, true, {{SettingField::OutputHigh, SuspicionReason::NotANumber}}},
        {"-30",
         "20",
         "0",
         "22.5",
         0,
         true,
         {{SettingField::InputLow, SuspicionReason::OutsideType},
          {SettingField::OutputHigh, SuspicionReason::OutsideType}}},
        {"4", "20", "0", "11", 1, true, {{SettingField::OutputHigh, SuspicionReason::OutsideType}}},
        {"4", "20", "5", "5", 0, true, {{SettingField::OutputHigh, SuspicionReason::ZeroSpan}}},
        {"4", "20", "5", "5", 0, false, {}}, // no analogue output to judge
    };
    for (const Case& c : cases) {
        EditorState e;
        e.inputLow = c.inLow;
        e.inputHigh = c.inHigh;
        e.outputLow = c.outLow;
        e.outputHigh = c.outHigh;
        e.outputType = c.outputType;
        RequestInputs in;
        in.editor = e;
        const SettingsValues edited = valuesOf(buildRequestFields(in));
        const std::vector<Suspicion> got = suspiciousSettings(e, edited, stored(), c.analogue);
        std::vector<std::pair<SettingField, SuspicionReason>> reasons;
        for (const Suspicion& s : got)
            reasons.emplace_back(s.field, s.reason);
        EXPECT_EQ(reasons, c.expected) << c.inLow << " " << c.inHigh << " " << c.outLow << " " << c.outHigh;
        for (const Suspicion& s : got) {
            EXPECT_FALSE(s.oldText.empty());
            // What may be written anyway is shown as written; the rest is never written.
            EXPECT_EQ(s.refused(), s.reason != SuspicionReason::ZeroSpan);
            if (!s.refused()) {
                EXPECT_EQ(s.newText, settingText(s.field, edited));
            }
            EXPECT_EQ(s.allowed, s.field == SettingField::InputLow ? "-25.000 ... 25.000 mA"
                                 : c.outputType == 1               ? "0.000 ... 10.500 V"
                                                                   : s.allowed);
        }
    }
}

TEST(SettingsBackup, WritesAndReadsBackEveryField) {
    vx::setDecimalSeparator(",");
    Backup b;
    b.variant = ins::kVariantModbus;
    b.firmwareVersion = 20141006;
    b.boardIdentifier = 12;
    b.calibrationDate = "2014-10-06";
    b.savedAt = "2026-12-08T16:00:00.000+01:00";
    b.settings = {ins::kTypeVoltage, ins::kTypeCurrent, -0.1f, 125.0f, 0.0f, 21.5f, 1, 2, 5, 247};
    const QByteArray text = writeBackup(b);
    EXPECT_TRUE(text.contains("\"inputLow\": -0.1,"))
        << text.constData(); // the single's shortest text, a full stop
    const BackupRead r = readBackup(text);
    ASSERT_TRUE(r.backup) << static_cast<int>(r.problem) << r.field.toStdString();
    EXPECT_EQ(r.backup->variant, b.variant);
    EXPECT_EQ(r.backup->firmwareVersion, b.firmwareVersion);
    EXPECT_EQ(r.backup->boardIdentifier, 12);
    EXPECT_EQ(r.backup->calibrationDate, b.calibrationDate);
    EXPECT_TRUE(changedSettings(r.backup->settings, b.settings).empty());
    EXPECT_EQ(r.backup->settings.modbusBaudRate, 5);
    vx::setDecimalSeparator(".");
}

TEST(SettingsBackup, MalformedFilesNameTheirProblem) {
    Backup b;
    b.settings = stored();
    b.firmwareVersion = 20141006;
    const QJsonObject good = QJsonDocument::fromJson(writeBackup(b)).object();
    const auto with = [&](const char* section, const char* key, const QJsonValue& v) {
        QJsonObject root = good;
        if (section) {
            QJsonObject o = root.value(section).toObject();
            if (v.isUndefined())
                o.remove(key);
            else
                o.insert(key, v);
            root.insert(section, o);
        } else {
            root.insert(key, v);
        }
        return QJsonDocument(root).toJson();
    };
    const QByteArray whole = writeBackup(b);
    struct Case {
        QByteArray text;
        BackupProblem problem;
        const char* field;
    } cases[] = {
        {whole.left(whole.size() / 2), BackupProblem::Unreadable, ""},
        {"", BackupProblem::Unreadable, ""},
        {"[1,2]", BackupProblem::Unreadable, ""},
        {with(nullptr, "format", "something else"), BackupProblem::NotABackup, ""},
        {with(nullptr, "version", 2), BackupProblem::NewerVersion, ""},
        {with(nullptr, "version", "1"), BackupProblem::BadValue, "version"},
        {with("settings", "inputLow", QJsonValue::Undefined), BackupProblem::MissingField, "inputLow"},
        {with("settings", "inputLow", "4"), BackupProblem::BadValue, "inputLow"},
        {with("settings", "outputHigh", 1e39), BackupProblem::BadValue, "outputHigh"},
        {"{\"format\":\"VX2207 settings\",\"version\":1,\"x\":1e999}", BackupProblem::Unreadable, ""},
        {with("settings", "inputType", "pressure"), BackupProblem::BadValue, "inputType"},
        {with("settings", "modbusBaudRate", 9601), BackupProblem::BadValue, "modbusBaudRate"},
        {with("settings", "modbusAddress", 248), BackupProblem::BadValue, "modbusAddress"},
        {with("settings", "modbusAddress", 1.5), BackupProblem::BadValue, "modbusAddress"},
        {with("instrument", "variant", "VX2208"), BackupProblem::BadValue, "variant"},
        {with("instrument", "firmware", "2014-13"), BackupProblem::BadValue, "firmware"},
        {with(nullptr, "settings", QJsonValue::Null), BackupProblem::BadValue, "settings"},
    };
    for (const Case& c : cases) {
        const BackupRead r = readBackup(c.text);
        EXPECT_FALSE(r.backup) << c.text.constData();
        EXPECT_EQ(r.problem, c.problem) << c.text.constData();
        EXPECT_EQ(r.field.toStdString(), c.field) << c.text.constData();
    }
}
