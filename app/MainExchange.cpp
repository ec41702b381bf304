// The instrument exchange of the main window: the poll cycle, the request built from the controls, the
// reply shown on them, the command handshake, the settings editor and the firmware check. The rules live
// in Exchange.cpp; this file only moves values between the controls and those rules.
#include "app/Main.h"

#include "app/DUTHiba.h"
#include "app/tools/DemoBanner.h"
#include "common/pictureformat.h"
#include "instrument/codes.h"
#include "link/mb.h"
#include "widgets/mbargraph.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QComboBox>
#include <QDateTime>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>

#include <chrono>
#include <span>
#include <utility>

namespace ins = vx::instrument;
using vx::app::EditorState;

namespace {
// An edit is left only when the focus goes to another control: its own context menu or another window
// taking the focus keeps the operator's text (and selection) as typed.
bool leavesForAnotherControl(QEvent* focusOut) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(focusOut)->reason();
    return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QString& q) {
    return q.toStdString();
}
} // namespace

// Command buttons and their bits, shared by the request and the acknowledgement.
std::array<std::pair<std::uint8_t, TSpeedButton*>, 6> TForm_Main::commandButtons() const {
    return {{{ins::kCmdStoreInputCalibration, SpeedButton_ADCalBeiras},
             {ins::kCmdStoreOutputCalibration, SpeedButton_WriteOutputCalibrationToVX},
             {ins::kCmdStoreSettings, SpeedButton_WriteSettings},
             {ins::kCmdRestart, SpeedButton_Reset},
             {ins::kCmdClearFramRestart, SpeedButton_FRAMTorlesReset},
             {ins::kCmdClearTemperatureMinMax, SpeedButton_HomersekletMinMaxTorlese}}};
}

void TForm_Main::connectExchangeHandlers() {
    MB1->OnMBPortOpenedOrClosed = [this](bool open) { MB1MBPortOpenedOrClosed(open); };
    MB1->OnMBMasterEndOfEvent = [this](mb::TMBStatus status, const std::string& text) {
        MB1MBMasterEndOfEvent(status, text);
    };
    // Only watched: when each request goes out, for the traffic monitor's attempts and round trips.
    MB1->engine().OnMBStatusNowChanged = [this](mb::TMBStatusNow now, const std::string&) {
        if (now == mb::stnSending) linkAttemptSent();
    };
    connectCommandSafety();
    for (QLineEdit* edit : {Edit_InputLow, Edit_InputHigh, Edit_OutputLow, Edit_OutputHigh})
        edit->installEventFilter(this);
    connect(RadioGroup_BemenetTipusa, &TRadioGroup::clicked, this,
            &TForm_Main::RadioGroup_BemenetTipusaClick);
    connect(RadioGroup_KimenetTipusa, &TRadioGroup::clicked, this,
            &TForm_Main::RadioGroup_KimenetTipusaClick);
    connect(Button_GyariAlapSkala, &QPushButton::clicked, this, &TForm_Main::Button_GyariAlapSkalaClick);
    connect(Button_MinMaxTorles0, &QPushButton::clicked, this, &TForm_Main::Button_MinMaxTorles0Click);
    connect(Button_MinMaxTorles1, &QPushButton::clicked, this, &TForm_Main::Button_MinMaxTorles1Click);
    // Rewritten on every reply: opaque, so the boxes beneath them are not repainted each time; fixed in
    // size, as they are placed, so a new text asks for no layout pass; plain text, so it is not
    // searched for markup first.
    for (QLabel* live : {Label_ADErtek,
                         Label_ADErtekAtlagolt,
                         Label_ADErtek2,
                         Label_ADErtekAtlagolt2,
                         Label_Min0,
                         Label_Max0,
                         Label_Delta0,
                         Label_Min1,
                         Label_Max1,
                         Label_Delta1,
                         Label_BemenoErtek,
                         Label_BemenoErtek2,
                         Label_OutputValue,
                         Label_OutputValue2,
                         Label_Uzemorak,
                         Label_MertHomerseklet,
                         Label_MertHomersekletMin,
                         Label_MertHomersekletMax,
                         Label_PWMErtek,
                         Label_PWMErtek2,
                         Label_ErositesCH0,
                         Label_ErositesCH1,
                         Label_uDivider,
                         Label_uADSamples,
                         Label_ErrorNumber}) {
        live->setAutoFillBackground(true);
        live->setFixedSize(live->size());
        live->setTextFormat(Qt::PlainText);
    }
}

// ---- poll cycle

void TForm_Main::MB1MBPortOpenedOrClosed(bool MBbPortOpen) {
    if (Label_DemoBanner) Label_DemoBanner->follow(MBbPortOpen, MB1->Port());
    // Open, Close, a loss and a reconnect alike: nothing pending may reach whatever answers next.
    releaseCommands(MBbPortOpen ? Commands.portOpened() : Commands.portClosed());
    Fresh.failed();
    emit noReply();
    RestartCalibrations();
    if (!MBbPortOpen) return;
    ShownInstrumentType = -1;
    BuildRequest();
}

void TForm_Main::MB1MBMasterEndOfEvent(mb::TMBStatus MBStatus, const std::string& /*MBStatusString*/) {
    // A reply shorter than its layout would show zeros for the fields it lacks: it is dropped, counted,
    // and the cycle goes on as after a reply that never came.
    const bool shortReply =
        MBStatus == mb::stOK && MB1->engine().rxBuffer().receivedNumber() < ins::kReplySize;
    if (shortReply) {
        ++ShortReplies;
        MBStatus = mb::stTimeOut;
    }
    switch (MBStatus) {
    case mb::stOK:
        reportLinkExchange(vx::app::tools::Outcome::Ok, 0, true);
        break;
    case mb::stSlaveError:
        reportLinkExchange(vx::app::tools::Outcome::SlaveError, MB1->engine().rxBuffer().frame()[2], true);
        break;
    case mb::stTimeOut:
        reportLinkExchange(shortReply ? vx::app::tools::Outcome::ShortReply
                           : MB1->engine().MBBadFrames() != badFramesAtSend_
                               ? vx::app::tools::Outcome::CrcError
                               : vx::app::tools::Outcome::TimeOut,
                           0, true);
        break;
    case mb::stClosedPort:
        reportLinkExchange(vx::app::tools::Outcome::ClosedPort, 0, true);
        break;
    }
    using Outcome = vx::app::CommandGuard::Outcome;
    // A closed port's end is followed by the port event, which says why.
    if (MBStatus != mb::stClosedPort)
        releaseCommands(Commands.transactionEnded(MBStatus == mb::stOK           ? Outcome::Reply
                                                  : MBStatus == mb::stSlaveError ? Outcome::BadAnswer
                                                                                 : Outcome::NoReply));
    if (MBStatus == mb::stOK) {
        DecodeReply();
        Fresh.replied(LastReply);
    } else {
        Fresh.failed();
        emit noReply();
    }
    const bool show = MBStatus == mb::stOK || MakerAccess;
    PageControl1->setVisible(show);
    GroupBox_System->setVisible(show);
    Label_KeszulekAltipus->setVisible(show);
    placePortNotice();
    if (MBStatus == mb::stOK) emit replyShown();
    // After a refusal nothing more goes out; the program is ending.
    if (MB1->MBPortOpen() && !FirmwareRefused) BuildRequest();
}

void TForm_Main::linkAttemptSent() {
    // A request going out within a transaction means the one before it got no good reply.
    if (transactionOpen_)
        reportLinkExchange(MB1->engine().MBBadFrames() != badFramesAtSend_ ? vx::app::tools::Outcome::CrcError
                                                                           : vx::app::tools::Outcome::TimeOut,
                           0, false);
    transactionOpen_ = true;
    attemptSentNs_ = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    badFramesAtSend_ = MB1->engine().MBBadFrames();
}

void TForm_Main::reportLinkExchange(vx::app::tools::Outcome outcome, std::uint8_t slaveError,
                                    bool transactionEnded) {
    const bool sent = transactionOpen_ || (outcome == vx::app::tools::Outcome::Ok && attemptSentNs_ >= 0);
    vx::app::tools::LinkExchange e;
    e.wallMs = QDateTime::currentMSecsSinceEpoch();
    e.outcome = outcome;
    e.slaveError = slaveError;
    if (sent) {
        const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
        e.roundTripUs = (now - attemptSentNs_) / 1000;
        const mb::TxFrameBuffer& tx = MB1->engine().txBuffer();
        e.request = std::span(tx.frame(), tx.dataNumber() + 5u);
        // A retry's number is already counted up when its request goes out.
        e.attempt = static_cast<std::uint8_t>(MB1->MBMasterTryNumber() - (transactionEnded ? 0 : 1));
    }
    if (outcome == vx::app::tools::Outcome::Ok || outcome == vx::app::tools::Outcome::SlaveError ||
        outcome == vx::app::tools::Outcome::ShortReply) {
        const mb::RxFrameBuffer& rx = MB1->engine().rxBuffer();
        e.reply = std::span(rx.frame(), rx.receivedNumber() + 5u);
    }
    if (transactionEnded) transactionOpen_ = false;
    emit linkExchanged(e, transactionEnded);
}

void TForm_Main::BuildRequest() {
    vx::app::RequestInputs in;
    in.uPWMForce = uPWMForce;
    for (const auto& [bit, button] : commandButtons())
        if (button->Down()) in.commandFlags |= bit;
    in.commandFlags = Commands.allowed(in.commandFlags);
    in.low = Low;
    in.high = High;
    in.uOut4mA = uOut4mA;
    in.uOut20mA = uOut20mA;
    in.uOut2V = uOut2V;
    in.uOut10V = uOut10V;
    in.today = vx::app::localToday();
    in.outputCheckPageActive = PageControl1->ActivePage() == TabSheet_KimenetEllenorzes;
    in.outputCheckPosition = TrackBar_OutCheck->value();
    in.gainForceItem = RadioGroup_GainForce->ItemIndex();
    in.gainForceChannel = RadioGroup_GainForceCH->ItemIndex();
    in.dividerForceItem = RadioGroup_DividerForce->ItemIndex();
    in.rangeForceItem = RadioGroup_MereshatarForce->ItemIndex();
    in.editor = editorState();
    in.reported = ReportedCodes;
    const ins::Request request = vx::app::buildRequestFields(in);
    Fresh.requestSent(request);
    emit requestSent(request);
    updateSettingsMarks(request);

    MB1->MBClearTXDataBuffer();
    MB1->setMBMasterCommandToSlave(ins::kExchangeCommand);
    MB1->MBTXPutBytes(ins::encodeRequest(request));
    Label_CalibrationStep->setText(QString::number(request.DirectControl));
    MB1->MBMasterSend(50);
}

void TForm_Main::DecodeReply() {
    const mb::RxFrameBuffer& rx = MB1->engine().rxBuffer();
    // Data bytes follow the three header bytes; fields beyond what arrived read 0.
    LastReply = ins::decodeReply(std::span(rx.frame() + 3, rx.receivedNumber()));
    HaveReply = true;
    const ins::Reply& r = LastReply;
    const vx::app::ReplyView view = vx::app::presentReply(r, AdStats0, AdStats1, {s(GsHours), s(GsMinutes)});

    FirmwareVersion = view.firmwareVersion;
    Label_FormverVerzio->setText(q(view.firmwareText));
    CheckFirmware();
    acknowledgeCommands(r.AcknowledgeFlags);
    showReply(view);

    iTypeOfInstrument = r.iTypeOfInstrument;
    ReportedCodes = {r.InputTypeCode, r.OutputTypeCode, r.ModbusProtocol,
                     r.ModbusParity,  r.ModbusBaudRate, r.ModbusAddress};
    ApplyInstrumentVariant();
    if (SpeedButton_ReadSettings->Down()) LoadSettingsFromReply();
    Label_NYAKCime->setText(QString::number(BoardIdentifier));
}

void TForm_Main::acknowledgeCommands(std::uint8_t flags) {
    for (const auto& [bit, button] : commandButtons())
        if (flags & bit) button->setDown(false);
    // A stored write is read straight back, so the editor shows what the instrument now holds.
    if (flags & ins::kCmdStoreSettings) SpeedButton_ReadSettings->setDown(true);
}

void TForm_Main::showReply(const vx::app::ReplyView& v) {
    Label_ADErtek->setText(q(v.ch0.raw));
    MBarGraph_AD->setMBGValue(v.ch0.rawBar);
    Label_ADErtekAtlagolt->setText(q(v.ch0.filtered));
    MBarGraph_ADSzurt->setMBGValue(v.ch0.filteredBar);
    Label_ADErtek2->setText(q(v.ch1.raw));
    MBarGraph_AD2->setMBGValue(v.ch1.rawBar);
    Label_ADErtekAtlagolt2->setText(q(v.ch1.filtered));
    MBarGraph_AD2Szurt->setMBGValue(v.ch1.filteredBar);
    Label_Min0->setText(q(v.ch0.min));
    Label_Max0->setText(q(v.ch0.max));
    Label_Delta0->setText(q(v.ch0.delta));
    MBarGraph_Delta0->setMBGValue(v.ch0.deltaBar);
    Label_Min1->setText(q(v.ch1.min));
    Label_Max1->setText(q(v.ch1.max));
    Label_Delta1->setText(q(v.ch1.delta));
    MBarGraph_Delta1->setMBGValue(v.ch1.deltaBar);
    Label_RAM1AdatForras->setText(q(v.ram1Source));
    Label_RAM2AdatForras->setText(q(v.ram2Source));
    Label_ErositesCH0->setText(q(v.gainCh0));
    Label_ErositesCH1->setText(q(v.gainCh1));

    Label_EEPROMHiba->setVisible(v.framError);
    Label_ADNincsKalibralva->setVisible(v.inputUncalibrated);
    Label_KimenetNincsKalibralva->setVisible(v.outputUncalibrated);
    Label_ADError->setVisible(v.converterError);
    Label_ADOverflow->setVisible(v.inputRangeError);
    Label_OutputRangeError->setVisible(v.outputRangeError);
    Image_InputCalibrationOK->setVisible(!v.inputUncalibrated);
    Image_OutputCalibrationOK->setVisible(!v.outputUncalibrated);

    Label_BemenoErtek->setText(q(v.inputValue));
    Label_BemenoErtek2->setText(Label_BemenoErtek->text());
    Label_Input->setText(q(v.inputRangeName));
    Label_InputSignalPlus->setText(q(v.inputTerminal));
    Image_79->setVisible(v.inputPicture == vx::app::InputPicture::Terminals79);
    Image_710->setVisible(v.inputPicture == vx::app::InputPicture::Terminals710);
    Image_78->setVisible(v.inputPicture == vx::app::InputPicture::Terminals78);

    Label_Output->setText(q(v.outputRangeName));
    if (v.outputPlus) Label_OutputSignalPlus->setText(q(*v.outputPlus));
    if (v.outputMinus) Label_OutputSignalMinus->setText(q(*v.outputMinus));
    if (v.voltageOutputPicture) {
        Image_34->setVisible(*v.voltageOutputPicture);
        Image_56->setVisible(!*v.voltageOutputPicture);
    }
    Label_OutputValue->setText(q(v.outputValue));
    Label_OutputValue2->setText(Label_OutputValue->text());

    Label_Uzemorak->setText(q(v.workingTime));
    Label_KalibralasDatuma->setText(q(v.calibrationDate));
    Label_MertHomerseklet->setText(q(v.temperature));
    Label_MertHomersekletMin->setText(q(v.temperatureMin));
    Label_MertHomersekletMax->setText(q(v.temperatureMax));
    Label_uADSamples->setText(q(v.samples));
    Label_ErrorNumber->setText(q(v.errorNumber));
    MBarGraph_PWM->setMBGValue(v.pwmBar);
    MBarGraph_PWM2->setMBGValue(v.pwmBar);
    Label_PWMErtek->setText(q(v.pwm));
    Label_PWMErtek2->setText(q(v.pwm));
    Label_uDivider->setText(q(v.divider));
    MBarGraph_SkalaSzazalek->setMBGValue(v.scaleBar);
    Label_iTypeOfInstrument->setText(q(v.typeOfInstrument));
}

// ---- firmware and variant

void TForm_Main::CheckFirmware() {
    if (ins::isFirmwareSupported(FirmwareVersion)) return;
    FirmwareRefused = true;
    if (Form_DUTHiba) {
        PrepareFirmwareDialog();
        Form_DUTHiba->exec();
    }
    // The program ends by closing the window as the operator would: the port closes first and the
    // settings are kept; the application ends with its last window.
    if (Terminate)
        Terminate();
    else
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TForm_Main::PrepareFirmwareDialog() {
    Form_DUTHiba->setWindowTitle(GsNotCompatible);
    Form_DUTHiba->Memo_Megnevezes->clear();
    QStringList lines;
    for (const std::string& line : vx::app::firmwareMismatchLines(s(GsSelectedLanguage), FirmwareVersion))
        lines << q(line);
    Form_DUTHiba->Memo_Megnevezes->setPlainText(lines.join(QLatin1Char('\n')));
}

void TForm_Main::ApplyInstrumentVariant() {
    if (iTypeOfInstrument == ShownInstrumentType) return;
    const bool analogue = iTypeOfInstrument == ins::kVariantAnalog;
    const bool modbus = iTypeOfInstrument == ins::kVariantModbus;
    GroupBox_AnalogOutputSettings->setVisible(analogue);
    GroupBox_AnalogOutput->setVisible(analogue);
    GroupBox_MODBUSOutputSettings->setVisible(modbus);
    if (analogue || modbus) InstrumentModelCaption = q(std::string(ins::variantCaption(iTypeOfInstrument)));
    ApplyAccessMode();
    ShownInstrumentType = iTypeOfInstrument;
}

// ---- settings editor

EditorState TForm_Main::editorState() const {
    EditorState e;
    e.inputType = RadioGroup_BemenetTipusa->ItemIndex();
    e.outputType = RadioGroup_KimenetTipusa->ItemIndex();
    e.inputLow = s(Edit_InputLow->text());
    e.inputHigh = s(Edit_InputHigh->text());
    e.outputLow = s(Edit_OutputLow->text());
    e.outputHigh = s(Edit_OutputHigh->text());
    e.modbusProtocol = RadioGroup_MODBUSProtocol->ItemIndex();
    e.modbusParity = RadioGroup_MODBUSParity->ItemIndex();
    e.modbusBaudRate = ComboBox_MODBUSBaudRate->currentIndex();
    e.modbusAddress = ComboBox_MODBUSAddress->currentIndex();
    return e;
}

void TForm_Main::showEditor(const EditorState& e) {
    RadioGroup_BemenetTipusa->setItemIndex(e.inputType);
    RadioGroup_KimenetTipusa->setItemIndex(e.outputType);
    // A type the list does not hold raises no click; the units still have to follow.
    if (e.inputType < 0) RadioGroup_BemenetTipusaClick();
    if (e.outputType < 0) RadioGroup_KimenetTipusaClick();
    Edit_InputLow->setText(q(e.inputLow));
    Edit_InputHigh->setText(q(e.inputHigh));
    Edit_OutputLow->setText(q(e.outputLow));
    Edit_OutputHigh->setText(q(e.outputHigh));
    RadioGroup_MODBUSProtocol->setItemIndex(e.modbusProtocol);
    RadioGroup_MODBUSParity->setItemIndex(e.modbusParity);
    ComboBox_MODBUSBaudRate->setCurrentIndex(e.modbusBaudRate);
    ComboBox_MODBUSAddress->setCurrentIndex(e.modbusAddress);
}

void TForm_Main::LoadSettingsFromReply() {
    showEditor(vx::app::editorFromReply(LastReply));
    EditorVariant = iTypeOfInstrument;
    SpeedButton_ReadSettings->setDown(false);
}

void TForm_Main::setUnitLabels(int item, QLabel* low, QLabel* high) {
    const QString unit = item == 0   ? QStringLiteral("mA")
                         : item == 1 ? QStringLiteral("V")
                                     : QStringLiteral("?");
    low->setText(unit);
    high->setText(unit);
}

void TForm_Main::RadioGroup_BemenetTipusaClick() {
    setUnitLabels(RadioGroup_BemenetTipusa->ItemIndex(), Label_InputLowMertekegyseg,
                  Label_InputHighMertekegyseg);
}

void TForm_Main::RadioGroup_KimenetTipusaClick() {
    setUnitLabels(RadioGroup_KimenetTipusa->ItemIndex(), Label_OutputLowMertekegyseg,
                  Label_OutputHighMertekegyseg);
}

void TForm_Main::Edit_InputLowExit(QLineEdit* sender) {
    sender->setText(q(vx::app::reformatInputEdit(s(sender->text()))));
}

void TForm_Main::Edit_OutputLowExit(QLineEdit* sender) {
    sender->setText(q(vx::app::reformatOutputEdit(s(sender->text()))));
}

void TForm_Main::Button_GyariAlapSkalaClick() {
    showEditor(vx::app::factoryDefaults(editorState(), iTypeOfInstrument));
    if (iTypeOfInstrument >= 0) EditorVariant = iTypeOfInstrument;
}

bool TForm_Main::eventFilter(QObject* watched, QEvent* event) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    const bool inputEdit = edit == Edit_InputLow || edit == Edit_InputHigh;
    const bool outputEdit = edit == Edit_OutputLow || edit == Edit_OutputHigh;
    if (edit && (inputEdit || outputEdit)) {
        if (event->type() == QEvent::KeyPress) {
            // Either decimal key types the locale's separator, so the number always reads back.
            const QString text = static_cast<QKeyEvent*>(event)->text();
            if (text == QStringLiteral(",") || text == QStringLiteral(".")) {
                edit->insert(q(vx::decimalSeparator()));
                return true;
            }
        } else if (event->type() == QEvent::FocusOut && leavesForAnotherControl(event)) {
            if (inputEdit)
                Edit_InputLowExit(edit);
            else
                Edit_OutputLowExit(edit);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- test page

void TForm_Main::Button_MinMaxTorles0Click() {
    AdStats0.clear();
}
void TForm_Main::Button_MinMaxTorles1Click() {
    AdStats1.clear();
}
