#include "cli/Commands.h"

#include "app/Exchange.h"
#include "app/tools/CsvRecorder.h"
#include "app/tools/Measurement.h"
#include "app/tools/SettingsBackup.h"
#include "app/tools/SettingsSafety.h"
#include "cli/Bench.h"
#include "cli/Records.h"
#include "cli/Session.h"
#include "instrument/codes.h"
#include "link/portdiscovery.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <array>

namespace vx::cli {
namespace {
namespace ins = vx::instrument;
namespace tools = vx::app::tools;

std::string text(const QJsonValue& v) {
    if (v.isString()) return v.toString().toStdString();
    if (v.isBool()) return v.toBool() ? "yes" : "no";
    if (v.isNull()) return "-";
    return QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).mid(1).chopped(1).toStdString();
}

// The backup file's names for the settings, in the order of tools::SettingField.
constexpr std::array<const char*, tools::kSettingFieldCount> kFieldNames{
    "inputType",  "inputLow",       "inputHigh",    "outputType",     "outputLow",
    "outputHigh", "modbusProtocol", "modbusParity", "modbusBaudRate", "modbusAddress"};

// The settings as the backup file writes them, field by field (one place knows the words).
QJsonObject settingsObject(const tools::SettingsValues& v) {
    tools::Backup b;
    b.settings = v;
    return QJsonDocument::fromJson(tools::writeBackup(b))
        .object()
        .value(QStringLiteral("settings"))
        .toObject();
}

std::uint32_t firmwareOf(const ins::Reply& r) {
    return ins::firmwareVersion(r.FirmwareYear, r.FirmwareMonth, r.FirmwareDay);
}

std::string firmwareRefusal(const ins::Reply& r) {
    return "firmware " + ins::firmwareVersionText(firmwareOf(r)) +
           " is not supported: this program handles " + ins::firmwareVersionText(ins::kFirmwareMin) +
           " ... " + ins::firmwareVersionText(ins::kFirmwareMax);
}

QJsonObject identity(const ins::Reply& r) {
    app::ChannelStats a, b;
    const app::ReplyView view = app::presentReply(r, a, b, {});
    const tools::Measurement m = tools::measure(r);
    const std::string_view caption = ins::variantCaption(r.iTypeOfInstrument);
    return {
        {QStringLiteral("variant"), caption.empty() ? QJsonValue() : QJsonValue(qs(caption))},
        {QStringLiteral("variantCode"), int{r.iTypeOfInstrument}},
        {QStringLiteral("firmware"), qs(view.firmwareText).mid(1)},
        {QStringLiteral("firmwareSupported"), ins::isFirmwareSupported(firmwareOf(r))},
        {QStringLiteral("calibrated"),
         r.CalibrationYear ? QJsonValue(qs(view.calibrationDate)) : QJsonValue()},
        {QStringLiteral("workingMinutes"), static_cast<qint64>(r.WorkingMinutes)},
        {QStringLiteral("temperature"), m.temperature ? number(*m.temperature) : QJsonValue()},
        {QStringLiteral("temperatureMin"), number(r.TemperatureMin)},
        {QStringLiteral("temperatureMax"), number(r.TemperatureMax)},
        {QStringLiteral("inputCalibrated"), !(r.StatusFlags & ins::kStatusInputUncalibrated)},
        {QStringLiteral("outputCalibrated"), !(r.StatusFlags & ins::kStatusOutputUncalibrated)},
        {QStringLiteral("instrumentStatus"), qs(m.statusText)},
    };
}

QJsonObject measurementObject(std::int64_t ms, const tools::Measurement& m) {
    return {{QStringLiteral("version"), kOutputVersion},
            {QStringLiteral("time"), QString::fromStdString(tools::isoLocalTime(ms))},
            {QStringLiteral("input"), number(m.input)},
            {QStringLiteral("inputUnit"), qs(m.inputUnit)},
            {QStringLiteral("output"), number(m.output)},
            {QStringLiteral("outputUnit"), qs(m.outputUnit)},
            {QStringLiteral("inputRange"), qs(m.inputRange)},
            {QStringLiteral("instrumentStatus"), qs(m.statusText)},
            {QStringLiteral("temperature"), m.temperature ? number(*m.temperature) : QJsonValue()},
            {QStringLiteral("adc0Raw"), m.adRaw0},
            {QStringLiteral("adc0Filtered"), m.adFiltered0},
            {QStringLiteral("adc1Raw"), m.adRaw1},
            {QStringLiteral("adc1Filtered"), m.adFiltered1}};
}

void addLines(Result& r, const QJsonObject& o) {
    for (auto it = o.begin(); it != o.end(); ++it)
        r.lines.push_back(it.key().toStdString() + ": " + text(it.value()));
}

// ---- ports

Result listPorts() {
    Result r;
    QJsonArray list;
    for (const mb::port::PortEntry& e :
         mb::port::buildPortList(mb::port::candidatePorts(), mb::port::probeForList, {})) {
        const QJsonObject o{{QStringLiteral("path"), qs(e.info.path)},
                            {QStringLiteral("byId"), qs(e.info.byId)},
                            {QStringLiteral("adapter"), qs(e.info.description)},
                            {QStringLiteral("manufacturer"), qs(e.info.manufacturer)},
                            {QStringLiteral("serialNumber"), qs(e.info.serialNumber)},
                            {QStringLiteral("usable"), e.usable()},
                            {QStringLiteral("reason"), e.usable() ? QString() : qs(e.probe.error.reason)},
                            {QStringLiteral("heldBy"), qs(e.probe.holders)}};
        list.append(o);
        r.lines.push_back(e.info.path + (e.info.byId.empty() ? "" : "  " + e.info.byId) +
                          (e.info.description.empty() ? "" : "  " + e.info.description) +
                          (e.usable() ? "  usable" : "  not usable: " + e.probe.error.reason));
    }
    if (r.lines.empty()) r.lines.push_back("no serial ports found");
    r.object.insert(QStringLiteral("ports"), list);
    return r;
}

// The port to use: the one given, else the single port that can be opened, else the single one of
// those on which an instrument answers a plain request.
std::string choosePort(const Arguments& args, const LinkMaker& makeLink, Result* problem) {
    if (!args.port.empty()) return args.port;
    std::vector<std::string> usable, answering;
    for (const mb::port::PortEntry& e :
         mb::port::buildPortList(mb::port::candidatePorts(), mb::port::probeForList, {}))
        if (e.usable()) usable.push_back(e.info.path);
    if (usable.size() == 1) return usable.front();
    for (const std::string& path : usable) {
        const std::unique_ptr<InstrumentLink> link = makeLink();
        Session s(*link, std::min(args.timeoutMs, 1000u));
        mb::port::OpenError err;
        if (s.open(path, args.baud, &err) && s.read().how == Waited::Reply) answering.push_back(path);
        s.close();
    }
    if (answering.size() == 1) return answering.front();
    if (answering.empty()) {
        *problem =
            failed(Exit::PortUnavailable,
                   usable.empty() ? "no serial port that can be opened was found (see: vx2207-cli ports)"
                                  : "no instrument answered on any port (see: vx2207-cli ports)");
    } else {
        std::string all;
        for (const std::string& p : answering)
            all += (all.empty() ? "" : ", ") + p;
        *problem =
            failed(Exit::Usage, "instruments answer on several ports (" + all + "): choose one with --port");
    }
    return {};
}

// ---- apply

struct Planned {
    tools::SettingsValues values; // as they travel
    app::RequestInputs inputs;
};

Planned plan(const tools::SettingsValues& v, const ins::Reply& stored) {
    Planned p;
    app::EditorState& e = p.inputs.editor;
    const auto edit = [](float f) { return tools::csvNumber(f); };
    e.inputType = v.inputType - ins::kTypeCurrent;
    e.outputType = v.outputType - ins::kTypeCurrent;
    e.inputLow = edit(v.inputLow);
    e.inputHigh = edit(v.inputHigh);
    e.outputLow = edit(v.outputLow);
    e.outputHigh = edit(v.outputHigh);
    e.modbusProtocol = v.modbusProtocol;
    e.modbusParity = v.modbusParity;
    e.modbusBaudRate = v.modbusBaudRate;
    e.modbusAddress = v.modbusAddress;
    p.inputs.reported = {stored.InputTypeCode, stored.OutputTypeCode, stored.ModbusProtocol,
                         stored.ModbusParity,  stored.ModbusBaudRate, stored.ModbusAddress};
    // What the window would send for the same editor (input scales clamped to the type's limit).
    p.values = tools::valuesOf(app::buildRequestFields(p.inputs));
    return p;
}

// Writes with the store command until the instrument acknowledges it, then reads the settings back.
Outcome writeSettings(Session& s, app::RequestInputs in, unsigned timeoutMs) {
    in.commandFlags = ins::kCmdStoreSettings;
    QElapsedTimer t;
    t.start();
    Outcome o = s.exchange(in, true);
    while (o.how == Waited::Reply && !(o.reply.AcknowledgeFlags & ins::kCmdStoreSettings) &&
           t.elapsed() < timeoutMs)
        o = s.exchange(in, true);
    if (o.how != Waited::Reply) return o;
    if (!(o.reply.AcknowledgeFlags & ins::kCmdStoreSettings))
        return {Waited::TimedOut, {}, "the instrument did not acknowledge the write"};
    return s.read(); // the bit is released: a plain request, and its reply is the read-back
}

// The settings file, read before the port is touched: a bad file is a usage error on any machine.
std::optional<tools::Backup> loadBackup(const std::string& path, Result* problem) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) {
        *problem = failed(Exit::Usage, path + ": " + f.errorString().toStdString());
        return std::nullopt;
    }
    // A settings file is small; anything much larger is not one.
    const tools::BackupRead read = tools::readBackup(f.read(1 << 20));
    const std::string field = read.field.toStdString();
    std::string why;
    switch (read.problem) {
    case tools::BackupProblem::None:
        return read.backup;
    case tools::BackupProblem::Unreadable:
        why = "damaged, or not a settings file";
        break;
    case tools::BackupProblem::NotABackup:
        why = "not a VX2207 settings file";
        break;
    case tools::BackupProblem::NewerVersion:
        why = "written by a newer version of this program";
        break;
    case tools::BackupProblem::MissingField:
        why = "the field " + field + " is missing";
        break;
    case tools::BackupProblem::BadValue:
        why = "the field " + field + " has an unusable value";
        break;
    }
    *problem = failed(Exit::Usage, path + ": " + why);
    return std::nullopt;
}

Result applyFile(const Arguments& args, const tools::Backup& b, Session& s, const ins::Reply& first) {
    if (b.variant != first.iTypeOfInstrument)
        return failed(Exit::Refused,
                      args.file + " is for the " + std::string(ins::variantCaption(b.variant)) +
                          ", the instrument is a " +
                          std::string(ins::variantCaption(first.iTypeOfInstrument)) + "; nothing written");

    const tools::SettingsValues before = tools::valuesOf(first);
    const Planned p = plan(b.settings, first);
    Result r;
    // As in the window: a value that is no number or outside its signal type is never written; one
    // that merely cannot work (a zero span) is written only when asked for with --force.
    std::string refused, doubtful;
    for (const tools::Suspicion& d : tools::suspiciousSettings(
             p.inputs.editor, p.values, before, first.iTypeOfInstrument != ins::kVariantModbus)) {
        static constexpr const char* kWhy[] = {"not a number the instrument can hold",
                                               "outside the signal type",
                                               "the end value equals the initial value"};
        std::string& list = d.refused() ? refused : doubtful;
        list += std::string(list.empty() ? "" : "; ") + kFieldNames[static_cast<std::size_t>(d.field)] +
                " = " + d.newText + ": " + kWhy[static_cast<int>(d.reason)] +
                (d.allowed.empty() ? "" : " (allowed: " + d.allowed + ")");
    }
    if (!refused.empty())
        return failed(Exit::Usage,
                      args.file + ": settings the instrument cannot take (" + refused + "); nothing written");
    if (!doubtful.empty() && !args.force)
        return failed(Exit::Usage, args.file + ": settings that cannot work (" + doubtful +
                                       "); nothing written. --force writes them anyway");

    const std::vector<tools::SettingField> changes = tools::changedSettings(p.values, before);
    tools::SettingsValues now = before;
    Outcome o{Waited::Reply, first, {}};
    if (!changes.empty()) {
        o = writeSettings(s, p.inputs, args.timeoutMs);
        if (o.how == Waited::Reply) now = tools::valuesOf(o.reply);
    }
    bool confirmed = o.how == Waited::Reply && now == p.values;
    bool restored = false;
    if (!confirmed && o.how == Waited::Reply) {
        // All or nothing: a write that did not hold as sent is undone, and the result says what stands.
        const Outcome back = writeSettings(s, plan(before, o.reply).inputs, args.timeoutMs);
        if (back.how == Waited::Reply) {
            now = tools::valuesOf(back.reply);
            restored = now == before;
        }
    }
    const QJsonObject fileFields = settingsObject(b.settings), sent = settingsObject(p.values),
                      was = settingsObject(before), holds = settingsObject(now);
    QJsonArray fields;
    for (int i = 0; i < tools::kSettingFieldCount; ++i) {
        const auto field = static_cast<tools::SettingField>(i);
        const QString key = QLatin1String(kFieldNames[static_cast<std::size_t>(i)]);
        const bool changed = std::find(changes.begin(), changes.end(), field) != changes.end();
        const bool written = changed && confirmed;
        fields.append(QJsonObject{{QStringLiteral("field"), key},
                                  {QStringLiteral("before"), was.value(key)},
                                  {QStringLiteral("file"), fileFields.value(key)},
                                  {QStringLiteral("sent"), sent.value(key)},
                                  {QStringLiteral("now"), holds.value(key)},
                                  {QStringLiteral("written"), written}});
        r.lines.push_back(
            key.toStdString() + ": " + text(was.value(key)) +
            (written   ? " -> " + text(holds.value(key)) + " (written)"
             : changed ? " -> " + text(sent.value(key)) + " not written; holds " + text(holds.value(key))
                       : " (unchanged)"));
    }
    r.object.insert(QStringLiteral("file"), QString::fromStdString(args.file));
    r.object.insert(QStringLiteral("fields"), fields);
    r.object.insert(QStringLiteral("confirmed"), confirmed);
    r.object.insert(QStringLiteral("settings"), holds);
    if (!confirmed) {
        r.object.insert(QStringLiteral("restored"), restored);
        if (o.how == Waited::Interrupted)
            r.status = Exit::Interrupted;
        else if (o.how == Waited::Lost)
            r.status = Exit::NoReply;
        else
            r.status = Exit::NotConfirmed;
        r.error = "the write was not confirmed" + (o.why.empty() ? std::string() : ": " + o.why) +
                  (restored                 ? "; the instrument holds its previous settings again"
                   : o.how == Waited::Reply ? "; the instrument now holds what the fields' \"now\" say"
                                            : "; what the instrument holds is unknown");
    }
    return r;
}

// ---- watch

Result watch(const Arguments& args, Session& s, const Emit& print) {
    QElapsedTimer t;
    t.start();
    if (!args.json) print(tools::csvHeader());
    unsigned n = 0;
    while (!args.count || n < *args.count) {
        const Outcome o = s.read();
        if (o.how == Waited::Interrupted && !args.count && !args.durationMs)
            break; // how an endless watch ends
        if (o.how != Waited::Reply) return fromOutcome(o);
        if (args.durationMs && t.elapsed() > *args.durationMs) break;
        const std::int64_t ms = QDateTime::currentMSecsSinceEpoch();
        const tools::Measurement m = tools::measure(o.reply);
        print(args.json
                  ? QJsonDocument(measurementObject(ms, m)).toJson(QJsonDocument::Compact).toStdString() +
                        "\n"
                  : tools::csvRow(ms, m));
        ++n;
    }
    Result r;
    r.object.insert(QStringLiteral("replies"), static_cast<int>(n));
    return r;
}

// ---- check

Result check(const Arguments& args, Session& s, const ins::Reply& first, Bench& bench) {
    if (first.iTypeOfInstrument != ins::kVariantAnalog)
        return failed(Exit::Refused, "the " + std::string(ins::variantCaption(first.iTypeOfInstrument)) +
                                         " has no analogue output to check");
    Result r;
    QJsonArray points;
    bool allPassed = true;
    for (const int percent : args.percents) {
        app::RequestInputs in;
        in.outputCheckPageActive = true;
        in.outputCheckPosition = percent / 5;
        Outcome o = s.exchange(in);
        // The output settles within a reply or two: the point is taken once the PWM stays put.
        for (int i = 0; i < 10 && o.how == Waited::Reply; ++i) {
            const Outcome next = s.exchange(in);
            const bool steady = next.how == Waited::Reply && next.reply.PwmValue == o.reply.PwmValue;
            o = next;
            if (steady) break;
        }
        if (o.how != Waited::Reply) return fromOutcome(o);
        const tools::Measurement m = tools::measure(o.reply);
        const bool rangeError = o.reply.StatusFlags & ins::kStatusOutputRangeError;
        const bool uncalibrated = o.reply.StatusFlags & ins::kStatusOutputUncalibrated;
        QJsonObject point{{QStringLiteral("percent"), percent},
                          {QStringLiteral("output"), number(m.output)},
                          {QStringLiteral("outputUnit"), qs(m.outputUnit)},
                          {QStringLiteral("pwm"), int{o.reply.PwmValue}},
                          {QStringLiteral("outputRangeError"), rangeError},
                          {QStringLiteral("outputUncalibrated"), uncalibrated}};
        // With a reference meter the point also has to be within its tolerance.
        bool inTolerance = true;
        Result meterFailure;
        if (bench.meter && !meterPoint(args, bench, o.reply, percent, &point, &inTolerance, &meterFailure))
            return meterFailure;
        const bool passed = !rangeError && !uncalibrated && inTolerance;
        allPassed = allPassed && passed;
        point.insert(QStringLiteral("passed"), passed);
        points.append(point);
        const std::string measured =
            bench.meter ? ", meter " + text(point.value(QStringLiteral("meter"))) + ", error " +
                              text(point.value(QStringLiteral("errorPercentOfSpan"))) + " % of span"
                        : std::string();
        r.lines.push_back(std::to_string(percent) + " %: " + tools::csvNumber(m.output) + " " + m.outputUnit +
                          ", PWM " + std::to_string(o.reply.PwmValue) + measured +
                          (passed ? ", passed" : ", FAILED") + (rangeError ? " (output range error)" : "") +
                          (uncalibrated ? " (output uncalibrated)" : ""));
    }
    r.object.insert(QStringLiteral("points"), points);
    r.object.insert(QStringLiteral("passed"), allPassed);
    if (!allPassed) {
        r.status = Exit::CheckFailed;
        r.error = "the output check failed";
    }
    return r;
}

Result withInstrument(const Arguments& args, const std::optional<tools::Backup>& backup, Session& s,
                      Bench& bench, const Emit& print) {
    const Outcome first = s.read();
    if (first.how != Waited::Reply) return fromOutcome(first);
    const ins::Reply& reply = first.reply;
    if (!ins::isFirmwareSupported(firmwareOf(reply))) {
        Result r = failed(Exit::Refused, firmwareRefusal(reply));
        if (args.command == Command::Identify) {
            r.object = identity(reply);
            addLines(r, r.object);
        }
        return r;
    }
    switch (args.command) {
    case Command::Identify: {
        Result r;
        r.object = identity(reply);
        addLines(r, r.object);
        return r;
    }
    case Command::Get: {
        app::ChannelStats a, b;
        tools::Backup backup;
        backup.variant = reply.iTypeOfInstrument;
        backup.firmwareVersion = firmwareOf(reply);
        backup.boardIdentifier = 255; // the window's board number; no reply carries it
        backup.calibrationDate = qs(app::presentReply(reply, a, b, {}).calibrationDate);
        const QDateTime now = QDateTime::currentDateTime();
        backup.savedAt = now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
        backup.settings = tools::valuesOf(reply);
        const QByteArray file = tools::writeBackup(backup);
        Result r;
        r.object.insert(QStringLiteral("backup"), QJsonDocument::fromJson(file).object());
        r.lines.push_back(file.trimmed().toStdString()); // the file itself: `get > unit.json` makes a backup
        return r;
    }
    case Command::Apply:
        return applyFile(args, *backup, s, reply);
    case Command::Watch:
        return watch(args, s, print);
    case Command::Check:
        return check(args, s, reply, bench);
    case Command::Verify:
        return verify(args, s, reply, bench);
    case Command::Calibrate:
        return calibrate(args, s, reply, bench);
    default:
        return failed(Exit::Usage, "no command");
    }
}

} // namespace

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QJsonValue number(double v) {
    const std::string t = tools::csvNumber(v);
    return t.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(t).toDouble());
}

Result failed(Exit status, std::string error) {
    Result r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

Result fromOutcome(const Outcome& o) {
    return failed(o.how == Waited::Interrupted ? Exit::Interrupted : Exit::NoReply, o.why);
}

Result runCommand(const Arguments& args, const LinkMaker& makeLink, const Emit& print,
                  const std::function<void(Session*)>& sessionReady) {
    if (args.command == Command::Ports) return listPorts();
    if (args.command == Command::Certificate) return writeCertificate(args);
    Result problem;
    std::optional<tools::Backup> backup;
    if (args.command == Command::Apply && !(backup = loadBackup(args.file, &problem))) return problem;
    // The bench before the unit: an instrument that cannot be reached leaves the unit untouched.
    Bench bench;
    if (const std::optional<Result> unreachable = openBench(args, &bench)) return *unreachable;
    const std::string port = choosePort(args, makeLink, &problem);
    if (port.empty()) return problem;
    std::unique_ptr<InstrumentLink> link = makeLink();
    Session s(*link, args.timeoutMs);
    sessionReady(&s);
    mb::port::OpenError err;
    if (!s.open(port, args.baud, &err)) {
        sessionReady(nullptr);
        // The reason names the programs holding a busy port.
        return failed(Exit::PortUnavailable, err.reason.empty() ? port + ": cannot be opened" : err.reason);
    }
    Result r = withInstrument(args, backup, s, bench, print);
    r.object.insert(QStringLiteral("port"), qs(port));
    s.close();
    sessionReady(nullptr);
    return r;
}

QJsonObject resultObject(const Arguments& args, const Result& r) {
    QJsonObject o = r.object;
    o.insert(QStringLiteral("tool"), QStringLiteral("vx2207-cli"));
    o.insert(QStringLiteral("version"), kOutputVersion);
    o.insert(QStringLiteral("command"), QString::fromStdString(args.commandName));
    o.insert(QStringLiteral("status"), static_cast<int>(r.status));
    if (!r.error.empty()) o.insert(QStringLiteral("error"), QString::fromStdString(r.error));
    return o;
}

} // namespace vx::cli
