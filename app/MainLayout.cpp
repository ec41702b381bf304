// The main window's controls: names, kinds, start texts, items, selections and start visibility.
// Positions inside the areas are this program's own; only the top-level areas keep fixed places.
#include "app/Main.h"

#include "link/mb.h"

#include "widgets/mbargraph.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

namespace {

constexpr TMBGColor kWhite = 0xFFFFFF, kYellow = 0x00FFFF, kAqua = 0xFFFF00, kOrange = 0x0080FF,
                    kPink = 0xC080FF;

void setPixelFont(QWidget* w, int pixels, bool bold = false, bool italic = false) {
    QFont f = w->font();
    if (pixels > 0) f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    w->setFont(f);
}

template <typename W> W* named(W* w, const char* name, const QRect& r) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(r);
    return w;
}

QLabel* label(QWidget* p, const char* name, const QString& text, const QRect& r, int pixels = 0,
              bool bold = false, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = named(new QLabel(text, p), name, r);
    l->setAlignment(align);
    if (pixels || bold) setPixelFont(l, pixels, bold);
    return l;
}

QLabel* rightLabel(QWidget* p, const char* name, const QString& text, const QRect& r, int pixels = 0,
                   bool bold = false) {
    return label(p, name, text, r, pixels, bold, Qt::AlignRight | Qt::AlignVCenter);
}

// A status flag: white on red, centred, hidden until the instrument reports the condition.
QLabel* flag(QWidget* p, const char* name, const QString& text, const QRect& r) {
    auto* l = label(p, name, text, r, 0, false, Qt::AlignCenter);
    l->setStyleSheet(QStringLiteral("QLabel { background-color: #ff0000; color: #ffffff; }"));
    // The red says "fault"; shown at all, the flag's text names it.
    l->setAccessibleDescription(QStringLiteral("Fault reported by the instrument"));
    l->hide();
    return l;
}

QGroupBox* group(QWidget* p, const char* name, const QString& title, const QRect& r) {
    return named(new QGroupBox(title, p), name, r);
}

TSpeedButton* speed(QWidget* p, const char* name, const QString& text, const QRect& r, int groupIndex,
                    bool allowAllUp = false, bool down = false) {
    auto* b = named(new TSpeedButton(p), name, r);
    b->setText(text);
    b->setGroupIndex(groupIndex);
    b->setAllowAllUp(allowAllUp);
    b->setDown(down);
    return b;
}

TSpeedButton* pictureButton(QWidget* p, const char* name, const char* picture, const QRect& r) {
    auto* b = speed(p, name, QString(), r, 0);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setIcon(QIcon(QStringLiteral(":/pictures/%1").arg(QLatin1String(picture))));
    b->setIconSize(r.size() - QSize(6, 6));
    return b;
}

QPushButton* button(QWidget* p, const char* name, const QString& text, const QRect& r) {
    auto* b = named(new QPushButton(text, p), name, r);
    // Enter clicks the focused button as Space does.
    b->setAutoDefault(true);
    return b;
}

TRadioGroup* radio(QWidget* p, const char* name, const QString& title, const QStringList& items, int index,
                   const QRect& r) {
    auto* g = named(new TRadioGroup(p), name, r);
    g->setTitle(title);
    g->setItems(items);
    g->setItemIndex(index);
    return g;
}

TMBarGraph* bar(QWidget* p, const char* name, const QRect& r, TMBGMode mode, bool showText, int decimals,
                TMBGColor at1) {
    auto* g = named(new TMBarGraph(p), name, r);
    g->setMBGMode(mode);
    g->setMBGShowText(showText);
    g->setMBGDecimals(decimals);
    g->setMBGPlusColorAt0(kWhite);
    g->setMBGPlusColorAt1(at1);
    g->setMBGMinusColorAt0(kWhite);
    g->setMBGMinusColorAt1(at1);
    // Nothing has been measured yet: an empty bar, not the control's half-full construction value.
    g->setMBGValue(0.0);
    return g;
}

QLabel* picture(QWidget* p, const char* name, const char* file, const QPoint& at, bool visible = true) {
    const QString path = QStringLiteral(":/pictures/%1").arg(QLatin1String(file));
    QPixmap pix(path);
    // On a screen scaled by two the drawing made at twice the size shows, so it stays sharp.
    if (qGuiApp->devicePixelRatio() > 1) {
        const QPixmap twice(QString(path).replace(QStringLiteral(".png"), QStringLiteral("@2x.png")));
        if (!twice.isNull()) pix = twice;
    }
    auto* l = named(new QLabel(p), name, QRect(at, pix.deviceIndependentSize().toSize()));
    l->setPixmap(pix);
    l->setVisible(visible);
    return l;
}

QLabel* emptyPicture(QWidget* p, const char* name, const QRect& r) {
    return named(new QLabel(p), name, r);
}

QListWidget* listBox(QWidget* p, const char* name, const QRect& r) {
    auto* l = named(new QListWidget(p), name, r);
    setPixelFont(l, 13, true);
    return l;
}

QSlider* trackBar(QWidget* p, const char* name, const QRect& r, int max, int page) {
    auto* s = named(new QSlider(Qt::Horizontal, p), name, r);
    s->setRange(0, max);
    s->setPageStep(page);
    s->setTickPosition(QSlider::TicksBelow);
    s->setTickInterval(1);
    return s;
}

// The window's style. Group captions sit on the frame line, as on the desktop this tool was made for;
// it keeps the boxes compact. A speed button that is down must read as down at a glance: it holds a
// choice or a command under way. On a light desktop the speed buttons have their own fixed faces; on a
// dark one the faces come from the palette, so that the palette's text stays readable on them.
QString windowStyleSheet(const QPalette& palette) {
    const QColor face = palette.color(QPalette::Button), highlight = palette.color(QPalette::Highlight);
    const auto mix = [](const QColor& a, const QColor& b, double share) {
        return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * share),
                                float(a.greenF() + (b.greenF() - a.greenF()) * share),
                                float(a.blueF() + (b.blueF() - a.blueF()) * share));
    };
    const bool light = face.lightnessF() >= 0.5f;
    const QColor top = light ? QColor(0xfdfdfd) : face.lighter(125), bottom = light ? QColor(0xe6e6e6) : face;
    const QColor hover = light ? QColor(0x6f8fbf) : highlight;
    const QColor down = light ? QColor(0xc9d9f0) : mix(face, highlight, 0.45);
    const QColor downBorder = light ? QColor(0x3f68a3) : highlight.lighter(130);
    const QColor pressed = light ? QColor(0xb5c9e8) : mix(face, highlight, 0.6);
    // A dark palette's mid tone hardly shows against its window colour; frames need a lighter line.
    const QString frame = light ? QStringLiteral("palette(mid)") : face.lighter(170).name();
    return QStringLiteral(
               "QGroupBox { border: 1px solid %7; border-radius: 3px; margin-top: 6px; }"
               "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: "
               "7px; padding: 0 2px; }"
               // The link panel is opaque over the system group's corner, caption row included.
               "TMB { background-color: palette(window); background-clip: margin; }"
               "TSpeedButton { border: 1px solid %7; border-radius: 3px; padding: 2px 4px;"
               " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2); }"
               "TSpeedButton:hover { border-color: %3; }"
               "TSpeedButton:checked { background: %4; border-color: %5; }"
               "TSpeedButton:pressed { background: %6; }"
               // The keyboard's place: a wider border in the highlight colour, the text unmoved.
               "TSpeedButton:focus { border: 2px solid palette(highlight); padding: 1px 3px; }")
        .arg(top.name(), bottom.name(), hover.name(), down.name(), downBorder.name(), pressed.name(), frame);
}

// A dark palette's disabled text is often its normal text: there a disabled button's caption fades and
// a speed button drops its raised face, whatever the palette says. A light one keeps its own look.
QString disabledButtons(const QPalette& palette) {
    const QColor face = palette.color(QPalette::Button), text = palette.color(QPalette::ButtonText);
    if (face.lightnessF() >= 0.5f) return QString();
    const QColor faded = QColor::fromRgbF(float(face.redF() * 0.6 + text.redF() * 0.4),
                                          float(face.greenF() * 0.6 + text.greenF() * 0.4),
                                          float(face.blueF() * 0.6 + text.blueF() * 0.4));
    return QStringLiteral("QPushButton:disabled { color: %1; }"
                          "TSpeedButton:disabled { color: %1; background: %2; border-color: %3; }")
        .arg(faded.name(), face.name(), face.lighter(125).name());
}

} // namespace

void TForm_Main::buildWindow() {
    setObjectName(QStringLiteral("Form_Main"));
    setWindowTitle(QStringLiteral("Form_Main"));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    setFont(f);
    applyWindowStyle();
    // The client area holds the areas below at fixed places with a small margin; the frame adds the
    // rest. On a screen too small for it, it scrolls.
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("ScrollBox_Client"));
    scroll->setFrameShape(QFrame::NoFrame);
    // Not a stop of its own for Tab: it scrolls to whichever control the keyboard reaches.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setBackgroundRole(QPalette::Window);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window may be made as small as the user likes: the client area scrolls.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(scroll);
    client_ = new QWidget;
    client_->setObjectName(QStringLiteral("Client"));
    client_->setFixedSize(1048, 538);
    scroll->setWidget(client_);
    scroll->viewport()->setBackgroundRole(QPalette::Window);
    resize(client_->size());

    // Creation order is stacking order: the link panel lies over the system group's corner.
    Label_KeszulekAltipus = label(client_, "Label_KeszulekAltipus", QStringLiteral("Instrument: VX2207 V"),
                                  QRect(312, 4, 729, 24), 16, true, Qt::AlignCenter);
    Label_KeszulekAltipus->hide();
    SpeedButton_Angol = speed(client_, "SpeedButton_Angol", QStringLiteral("English"), QRect(8, 498, 57, 25),
                              30, false, true);
    SpeedButton_Magyar =
        speed(client_, "SpeedButton_Magyar", QStringLiteral("Magyar"), QRect(88, 498, 57, 25), 30);
    for (auto* b : {SpeedButton_Angol, SpeedButton_Magyar})
        connect(b, &TSpeedButton::clicked, this, [this, b] { SpeedButton_AngolClick(b); });

    GroupBox_System =
        group(client_, "GroupBox_System", QStringLiteral("GroupBox_System"), QRect(8, 7, 289, 274));
    GroupBox_System->hide();
    buildSystemGroup();

    PageControl1 = named(new TPageControl(client_), "PageControl1", QRect(304, 32, 737, 497));
    TabSheet_Uzemmod = PageControl1->addPage(QStringLiteral("TabSheet_Uzemmod"), QStringLiteral("Settings"));
    TabSheet_InputCalibration = PageControl1->addPage(QStringLiteral("TabSheet_InputCalibration"),
                                                      QStringLiteral("Input Calibration"));
    TabSheet_OutputCalibration = PageControl1->addPage(QStringLiteral("TabSheet_OutputCalibration"),
                                                       QStringLiteral("Output Calibration"));
    TabSheet_KimenetEllenorzes =
        PageControl1->addPage(QStringLiteral("TabSheet_KimenetEllenorzes"), QStringLiteral("Output Check"));
    TabSheet_Test = PageControl1->addPage(QStringLiteral("TabSheet_Test"), QStringLiteral("Test Page"));
    for (auto* page :
         {TabSheet_InputCalibration, TabSheet_OutputCalibration, TabSheet_KimenetEllenorzes, TabSheet_Test})
        PageControl1->setTabVisibleFor(page, false);
    PageControl1->setActivePage(TabSheet_Uzemmod);
    PageControl1->hide();
    buildSettingsPage(TabSheet_Uzemmod);
    buildInputCalibrationPage(TabSheet_InputCalibration);
    buildOutputCalibrationPage(TabSheet_OutputCalibration);
    buildOutputCheckPage(TabSheet_KimenetEllenorzes);
    buildTestPage(TabSheet_Test);

    buildLinkPanel();

    GroupBox_ADCs = group(client_, "GroupBox_ADCs", QStringLiteral("ADCs"), QRect(8, 287, 289, 170));
    GroupBox_ADCs->hide();
    buildConverterGroup();
    placePortNotice();

    Timer_InCal = new QTimer(this);
    Timer_InCal->setObjectName(QStringLiteral("Timer_InCal"));
    setKeyboardOrder();
    applyWindowStyle(); // again, for the controls made since
}

void TForm_Main::applyWindowStyle() {
    const QString sheet = windowStyleSheet(palette()) + disabledButtons(palette());
    // Setting the same sheet again would only restyle every control for nothing.
    if (styleSheet() != sheet) setStyleSheet(sheet);
    // The style draws a track bar's ticks a shade darker than the window colour it is given, which
    // vanishes on a dark window: there the track bars are given a light one (they paint no background).
    const bool dark = palette().color(QPalette::Window).lightnessF() < 0.5f;
    for (QSlider* s : findChildren<QSlider*>()) {
        QPalette own; // nothing set: all inherited
        if (dark) own.setColor(QPalette::Window, palette().color(QPalette::WindowText));
        s->setPalette(own);
    }
}

void TForm_Main::setKeyboardOrder() {
    // Tab goes through the pages first (their tabs, then the page shown), then the link panel, the
    // restart button and the language buttons; creation order (which is stacking order) differs.
    QList<QWidget*> areas[4];
    const QWidget* const roots[3] = {PageControl1, MB1, GroupBox_System};
    for (QWidget* w = client_->nextInFocusChain(); w != client_; w = w->nextInFocusChain()) {
        if (!(w->focusPolicy() & Qt::TabFocus) || !client_->isAncestorOf(w)) continue;
        int area = 0;
        while (area < 3 && !roots[area]->isAncestorOf(w))
            ++area;
        areas[area] << w;
    }
    QWidget* previous = nullptr;
    for (const QList<QWidget*>& area : areas)
        for (QWidget* w : area) {
            if (previous) setTabOrder(previous, w);
            previous = w;
        }
}

void TForm_Main::placeOnScreen(const QRect& available) {
    // The frame is the window manager's and known only once the window is shown; until then the title
    // bar and borders of an ordinary desktop stand in.
    const QMargins frame =
        isVisible() && windowHandle() ? windowHandle()->frameMargins() : QMargins(4, 27, 4, 4);
    const QSize room = available.size().shrunkBy(frame);
    const int menu = layout() && layout()->menuBar() ? layout()->menuBar()->sizeHint().height() : 0;
    const QSize content = client_->size() + QSize(0, menu);
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    // A scroll bar needed one way takes its room from the other.
    QSize size = content.boundedTo(room);
    if (size.width() < content.width()) size.setHeight(std::min(content.height() + bar, room.height()));
    if (size.height() < content.height()) size.setWidth(std::min(content.width() + bar, room.width()));
    resize(size);
    // Centred; never with the title bar above or left of the screen's edge.
    QRect outer(QPoint(), size.grownBy(frame));
    outer.moveCenter(available.center());
    move(std::max(outer.left(), available.left()), std::max(outer.top(), available.top()));
}

void TForm_Main::buildLinkPanel() {
    MB1 = named(new TMB(client_), "MB1", QRect(8, 8, 153, 145));
    MB1->setPort(QStringLiteral("COM1"));
    MB1->setWinQSizeIn(8192);
    MB1->setWinQSizeOut(8192);
    mb::LinkEngine& engine = MB1->engine();
    engine.setMBSlaveVerYear(2013);
    engine.setMBSlaveVerMonth(3);
    engine.setMBSlaveVerDay(22);
    engine.setMBSlaveName("MB Slave On PC");
    engine.setMBDataNumberToSend(0);
    MB1->setMBLastUsedPort(QStringLiteral("\\\\.\\COM24"));
    MB1->setMBBaudEditVisible(false);
}

void TForm_Main::placePortNotice() {
    // The port notice takes the left column's free room, below the panel and whichever of the groups
    // under it are shown, so that it never covers their flags; it ends above the language buttons.
    int top = MB1->y() + 145;
    for (const QWidget* w : {static_cast<QWidget*>(GroupBox_System), static_cast<QWidget*>(GroupBox_ADCs)})
        if (!w->isHidden()) top = std::max(top, w->geometry().bottom() + 1);
    top += 4;
    MB1->setNoticeArea(QRect(14, top, GroupBox_System->width() - 12, SpeedButton_Angol->y() - 2 - top));
}

void TForm_Main::buildSystemGroup() {
    QGroupBox* g = GroupBox_System;
    // The link panel covers the top-left corner (up to x 153, y 146 here): controls go right of and below it.
    auto* gb1 = group(g, "GroupBox1", QStringLiteral("Error code"), QRect(160, 6, 121, 46));
    Label_ErrorNumber = label(gb1, "Label_ErrorNumber", QStringLiteral("0"), QRect(8, 17, 105, 22), 16, true,
                              Qt::AlignCenter);
    SpeedButton_Reset =
        speed(g, "SpeedButton_Reset", QStringLiteral("Restart"), QRect(160, 57, 121, 25), 5, true);
    auto* gb9 = group(g, "GroupBox9", QStringLiteral("Temperature"), QRect(160, 86, 121, 62));
    label(gb9, "Label22", QStringLiteral("T min.:"), QRect(8, 15, 50, 14));
    Label_MertHomersekletMin =
        rightLabel(gb9, "Label_MertHomersekletMin", QStringLiteral("--.-"), QRect(58, 15, 50, 14));
    label(gb9, "Label20", QStringLiteral("T:"), QRect(8, 29, 50, 14), 0, true);
    Label_MertHomerseklet =
        rightLabel(gb9, "Label_MertHomerseklet", QStringLiteral("--.-"), QRect(58, 29, 50, 14), 0, true);
    label(gb9, "Label26", QStringLiteral("T max.:"), QRect(8, 43, 50, 14));
    Label_MertHomersekletMax =
        rightLabel(gb9, "Label_MertHomersekletMax", QStringLiteral("--.-"), QRect(58, 43, 50, 14));

    const int c0 = 8, c1 = 146, w = 134, h = 17;
    Label_EEPROMHiba = flag(g, "Label_EEPROMHiba", QStringLiteral("FRAM error"), QRect(c0, 154, w, h));
    Label_ADError = flag(g, "Label_ADError", QStringLiteral("ADC error"), QRect(c1, 154, w, h));
    Label_ADNincsKalibralva =
        flag(g, "Label_ADNincsKalibralva", QStringLiteral("Uncalibrated input"), QRect(c0, 174, w, h));
    Label_KimenetNincsKalibralva =
        flag(g, "Label_KimenetNincsKalibralva", QStringLiteral("Uncalibrated output"), QRect(c1, 174, w, h));
    Label_ADOverflow = flag(g, "Label_ADOverflow", QStringLiteral("Input range error"), QRect(c0, 194, w, h));
    Label_OutputRangeError =
        flag(g, "Label_OutputRangeError", QStringLiteral("Output range error"), QRect(c1, 194, w, h));

    label(g, "Label7", QStringLiteral("Firmware:"), QRect(8, 218, 108, 15));
    Label_FormverVerzio =
        label(g, "Label_FormverVerzio", QStringLiteral("????"), QRect(118, 218, 163, 15), 0, true);
    label(g, "Label9", QStringLiteral("Last calibration:"), QRect(8, 235, 108, 15));
    Label_KalibralasDatuma =
        label(g, "Label_KalibralasDatuma", QStringLiteral("Last calibration:"), QRect(118, 235, 163, 15));
    label(g, "Label5", QStringLiteral("Working time:"), QRect(8, 252, 108, 15));
    Label_Uzemorak = label(g, "Label_Uzemorak", QStringLiteral("0.0"), QRect(118, 252, 163, 15));
}

void TForm_Main::buildConverterGroup() {
    QGroupBox* g = GroupBox_ADCs;
    const auto channel = [&](int top, const char* title, const QString& titleText, const char* raw,
                             const char* filtered, TMBGColor colour, const char* rawCaption,
                             const char* rawValue, const char* avgCaption, const char* avgValue) {
        label(g, title, titleText, QRect(8, top, 270, 15));
        bar(g, raw, QRect(8, top + 17, 249, 17), modeSigned, false, 0, colour);
        bar(g, filtered, QRect(8, top + 36, 249, 9), modeSigned, false, 0, colour);
        label(g, rawCaption, QStringLiteral("Raw:"), QRect(8, top + 48, 50, 15));
        auto* rawLabel = rightLabel(g, rawValue, QStringLiteral("0 000 000"), QRect(58, top + 48, 70, 15));
        label(g, avgCaption, QStringLiteral("Average:"), QRect(138, top + 48, 52, 15));
        auto* avgLabel = rightLabel(g, avgValue, QStringLiteral("0 000 000"), QRect(187, top + 48, 70, 15));
        return std::pair{rawLabel, avgLabel};
    };
    std::tie(Label_ADErtek, Label_ADErtekAtlagolt) =
        channel(16, "Label30", QStringLiteral("Current measuring ADC:"), "MBarGraph_AD", "MBarGraph_ADSzurt",
                kPink, "Label1", "Label_ADErtek", "Label24", "Label_ADErtekAtlagolt");
    std::tie(Label_ADErtek2, Label_ADErtekAtlagolt2) = channel(
        88, "Label33", QStringLiteral("Voltage measuring ADC:"), "MBarGraph_AD2", "MBarGraph_AD2Szurt", kAqua,
        "Label10", "Label_ADErtek2", "Label40", "Label_ADErtekAtlagolt2");
    MBarGraph_AD = g->findChild<TMBarGraph*>(QStringLiteral("MBarGraph_AD"));
    MBarGraph_ADSzurt = g->findChild<TMBarGraph*>(QStringLiteral("MBarGraph_ADSzurt"));
    MBarGraph_AD2 = g->findChild<TMBarGraph*>(QStringLiteral("MBarGraph_AD2"));
    MBarGraph_AD2Szurt = g->findChild<TMBarGraph*>(QStringLiteral("MBarGraph_AD2Szurt"));
}

void TForm_Main::buildSettingsPage(QWidget* page) {
    MBarGraph_SkalaSzazalek =
        bar(page, "MBarGraph_SkalaSzazalek", QRect(8, 6, 713, 17), modeUnsigned, true, 1, kYellow);
    GroupBox_Settings = group(page, "GroupBox_Settings", QStringLiteral("Settings"), QRect(8, 28, 713, 212));
    buildSettingsEditor(GroupBox_Settings);
    buildInputsAndOutputs(page);
}

void TForm_Main::buildSettingsEditor(QGroupBox* box) {
    const QStringList types{QStringLiteral("Current"), QStringLiteral("Voltage")};
    const auto scaleGroup = [&](const char* name, const QString& title, int x, const char* radioName,
                                const QString& radioTitle, const char* lowCaption, const char* lowEdit,
                                const char* lowUnit, const char* highCaption, const char* highEdit,
                                const char* highUnit) {
        auto* g = group(box, name, title, QRect(x, 16, 230, 188));
        radio(g, radioName, radioTitle, types, 0, QRect(8, 16, 214, 62));
        // Each caption is its edit's buddy: the edit's accessible name, whichever the language.
        label(g, lowCaption, QStringLiteral("Initial value:"), QRect(8, 92, 92, 15))
            ->setBuddy(named(new QLineEdit(QStringLiteral("4"), g), lowEdit, QRect(100, 89, 80, 21)));
        label(g, lowUnit, QStringLiteral("mA"), QRect(186, 92, 36, 15));
        label(g, highCaption, QStringLiteral("End value:"), QRect(8, 122, 92, 15))
            ->setBuddy(named(new QLineEdit(QStringLiteral("20"), g), highEdit, QRect(100, 119, 80, 21)));
        label(g, highUnit, QStringLiteral("mA"), QRect(186, 122, 36, 15));
        return g;
    };
    GroupBox_AnalogInputSettings =
        scaleGroup("GroupBox_AnalogInputSettings", QStringLiteral("Input"), 8, "RadioGroup_BemenetTipusa",
                   QStringLiteral("Input signal"), "Label4", "Edit_InputLow", "Label_InputLowMertekegyseg",
                   "Label11", "Edit_InputHigh", "Label_InputHighMertekegyseg");
    GroupBox_AnalogOutputSettings = scaleGroup("GroupBox_AnalogOutputSettings", QStringLiteral("Output"), 246,
                                               "RadioGroup_KimenetTipusa", QStringLiteral("Output signal"),
                                               "Label15", "Edit_OutputLow", "Label_OutputLowMertekegyseg",
                                               "Label32", "Edit_OutputHigh", "Label_OutputHighMertekegyseg");
    RadioGroup_BemenetTipusa = box->findChild<TRadioGroup*>(QStringLiteral("RadioGroup_BemenetTipusa"));
    RadioGroup_KimenetTipusa = box->findChild<TRadioGroup*>(QStringLiteral("RadioGroup_KimenetTipusa"));
    Edit_InputLow = box->findChild<QLineEdit*>(QStringLiteral("Edit_InputLow"));
    Edit_InputHigh = box->findChild<QLineEdit*>(QStringLiteral("Edit_InputHigh"));
    Edit_OutputLow = box->findChild<QLineEdit*>(QStringLiteral("Edit_OutputLow"));
    Edit_OutputHigh = box->findChild<QLineEdit*>(QStringLiteral("Edit_OutputHigh"));
    Label_InputLowMertekegyseg = box->findChild<QLabel*>(QStringLiteral("Label_InputLowMertekegyseg"));
    Label_InputHighMertekegyseg = box->findChild<QLabel*>(QStringLiteral("Label_InputHighMertekegyseg"));
    Label_OutputLowMertekegyseg = box->findChild<QLabel*>(QStringLiteral("Label_OutputLowMertekegyseg"));
    Label_OutputHighMertekegyseg = box->findChild<QLabel*>(QStringLiteral("Label_OutputHighMertekegyseg"));

    // The MODBUS group takes the output group's place on the MODBUS variant; until a variant is known
    // the analogue group shows, matching the start model caption.
    auto* m = GroupBox_MODBUSOutputSettings = group(
        box, "GroupBox_MODBUSOutputSettings", QStringLiteral("MODBUS kimenet"), QRect(246, 16, 230, 188));
    m->hide();
    RadioGroup_MODBUSProtocol =
        radio(m, "RadioGroup_MODBUSProtocol", QStringLiteral("Protokoll"),
              {QStringLiteral("RTU"), QStringLiteral("ASCII")}, 0, QRect(8, 16, 76, 62));
    RadioGroup_MODBUSParity = radio(
        m, "RadioGroup_MODBUSParity", QStringLiteral("Paritás bit"),
        {QStringLiteral("Nincs (None)"), QStringLiteral("Páros (Even)"), QStringLiteral("Páratlan (Odd)")}, 1,
        QRect(90, 16, 132, 78));
    auto* baudCaption = label(m, "Label35", QStringLiteral("Adatátviteli sebesség:"), QRect(8, 100, 214, 15));
    ComboBox_MODBUSBaudRate = named(new QComboBox(m), "ComboBox_MODBUSBaudRate", QRect(8, 116, 130, 21));
    baudCaption->setBuddy(ComboBox_MODBUSBaudRate);
    for (const char* baud : {"2400", "4800", "9600", "14400", "19200", "38400"})
        ComboBox_MODBUSBaudRate->addItem(QStringLiteral("%1 bit/sec.").arg(QLatin1String(baud)));
    ComboBox_MODBUSBaudRate->setCurrentIndex(2);
    auto* addressCaption = label(m, "Label36", QStringLiteral("Készülékcím:"), QRect(8, 142, 214, 15));
    ComboBox_MODBUSAddress = named(new QComboBox(m), "ComboBox_MODBUSAddress", QRect(8, 158, 70, 21));
    addressCaption->setBuddy(ComboBox_MODBUSAddress);
    for (int i = 0; i < 248; ++i)
        ComboBox_MODBUSAddress->addItem(QString::number(i));
    ComboBox_MODBUSAddress->setCurrentIndex(0);

    SpeedButton_ReadSettings =
        speed(box, "SpeedButton_ReadSettings", QStringLiteral("Read settings from istrument"),
              QRect(484, 24, 221, 30), 101, true, true);
    SpeedButton_WriteSettings =
        speed(box, "SpeedButton_WriteSettings", QStringLiteral("Write settings to instrument"),
              QRect(484, 60, 221, 30), 101, true);
    Button_GyariAlapSkala = button(box, "Button_GyariAlapSkala", QStringLiteral("View the factory defaults"),
                                   QRect(484, 173, 221, 27));
}

void TForm_Main::buildInputsAndOutputs(QWidget* page) {
    // Each side: range, value and terminal texts on the left, the wiring pictures stacked on the right.
    GroupBox_AnalogInput =
        group(page, "GroupBox_AnalogInput", QStringLiteral("Inputs"), QRect(8, 244, 354, 216));
    auto* in = GroupBox_AnalogInput;
    auto* gbIn = group(in, "GroupBox_Input", QStringLiteral("Input Range"), QRect(8, 16, 236, 46));
    Label_Input = label(gbIn, "Label_Input", QStringLiteral("-"), QRect(8, 17, 220, 22), 16, true);
    auto* gb2 = group(in, "GroupBox2", QStringLiteral("Input Value"), QRect(8, 66, 236, 54));
    Label_BemenoErtek = label(gb2, "Label_BemenoErtek", QStringLiteral("0"), QRect(8, 17, 220, 30), 21, true);
    auto* gb11 = group(in, "GroupBox11", QStringLiteral("Input connectors:"), QRect(8, 124, 236, 56));
    Label_InputSignalPlus = label(gb11, "Label_InputSignalPlus", QString(), QRect(8, 17, 220, 15));
    Label_InputCommon =
        label(gb11, "Label_InputCommon", QStringLiteral("IN-: terminal 7 (Common)"), QRect(8, 34, 220, 15));
    Image_78 = picture(in, "Image_78", "Image_78.png", QPoint(250, 22));
    Image_79 = picture(in, "Image_79", "Image_79.png", QPoint(261, 16), false);
    Image_710 = picture(in, "Image_710", "Image_710.png", QPoint(250, 18), false);

    GroupBox_AnalogOutput =
        group(page, "GroupBox_AnalogOutput", QStringLiteral("Outputs"), QRect(367, 244, 354, 216));
    auto* out = GroupBox_AnalogOutput;
    auto* gbOut = group(out, "GroupBox_Output", QStringLiteral("Output Range"), QRect(8, 16, 236, 46));
    Label_Output = label(gbOut, "Label_Output", QStringLiteral("-"), QRect(8, 17, 220, 22), 16, true);
    auto* gb3 = group(out, "GroupBox3", QStringLiteral("Output Value"), QRect(8, 66, 236, 54));
    Label_OutputValue = label(gb3, "Label_OutputValue", QStringLiteral("0"), QRect(8, 17, 220, 30), 21, true);
    auto* gb10 = group(out, "GroupBox10", QStringLiteral("Output connectors:"), QRect(8, 124, 236, 56));
    Label_OutputSignalPlus =
        label(gb10, "Label_OutputSignalPlus", QStringLiteral("OUT+: terminal 6"), QRect(8, 17, 220, 15));
    Label_OutputSignalMinus =
        label(gb10, "Label_OutputSignalMinus", QStringLiteral("OUT-: terminal 5"), QRect(8, 34, 220, 15));
    // The two output pictures share one place; only the one for the output type shows (current first).
    Image_34 = picture(out, "Image_34", "Image_34.png", QPoint(250, 16), false);
    Image_56 = picture(out, "Image_56", "Image_56.png", QPoint(250, 26));
}

void TForm_Main::buildInputCalibrationPage(QWidget* page) {
    label(page, "Label31", QStringLiteral("Input Calibration"), QRect(8, 6, 400, 22), 16, true);
    ListBox_InputCalibrated = listBox(page, "ListBox_InputCalibrated", QRect(8, 36, 200, 420));
    PageControl_InputCalibration =
        named(new TPageControl(page), "PageControl_InputCalibration", QRect(216, 36, 505, 362));
    TabSheet1 =
        PageControl_InputCalibration->addPage(QStringLiteral("TabSheet1"), QStringLiteral("TabSheet1"));
    PageControl_InputCalibration->setTabVisibleFor(TabSheet1, false);
    Image_InputCalibration = emptyPicture(TabSheet1, "Image_InputCalibration", QRect(8, 250, 160, 100));
    Label_InputCalibration1 = label(TabSheet1, "Label_InputCalibration1", QStringLiteral("---"),
                                    QRect(8, 8, 485, 26), 19, true, Qt::AlignCenter);
    Memo_InputCalibration2 =
        named(new QTextEdit(TabSheet1), "Memo_InputCalibration2", QRect(8, 40, 485, 200));
    Memo_InputCalibration2->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    Memo_InputCalibration2->setPlainText(QStringLiteral("Memo_InputCalibration2"));
    setPixelFont(Memo_InputCalibration2, 0, true);
    Memo_InputCalibration2->setStyleSheet(QStringLiteral("QTextEdit { background-color: palette(button); }"));
    SpeedButton_ADCalBeiras = speed(TabSheet1, "SpeedButton_ADCalBeiras",
                                    QStringLiteral("Kalibrálási értékek tárolása a készülékben"),
                                    QRect(8, 300, 485, 30), 100, true);
    SpeedButton_ADCalBeiras->hide();

    Image_InputCalibrationOK =
        picture(page, "Image_InputCalibrationOK", "CalibrationOK.png", QPoint(216, 410), false);
    SpeedButton_InputCalibrationBack =
        pictureButton(page, "SpeedButton_InputCalibrationBack", "Back51.png", QRect(608, 406, 51, 37));
    SpeedButton_InputCalibrationNext =
        pictureButton(page, "SpeedButton_InputCalibrationNext", "Next51.png", QRect(670, 406, 51, 37));
}

void TForm_Main::buildOutputCalibrationPage(QWidget* page) {
    label(page, "Label67", QStringLiteral("Output Calibration"), QRect(8, 6, 400, 22), 16, true);
    buildOutputCalibrationWizard(page);
    SpeedButton_OutputCalibrationBack =
        pictureButton(page, "SpeedButton_OutputCalibrationBack", "Back64.png", QRect(582, 56, 64, 50));
    SpeedButton_OutputCalibrationBack->hide();
    SpeedButton_OutputCalibrationNext =
        pictureButton(page, "SpeedButton_OutputCalibrationNext", "Next64.png", QRect(654, 56, 64, 50));

    auto* pwm = GroupBox_PWM = group(page, "GroupBox_PWM", QStringLiteral("PWM Value"), QRect(8, 142, 530, 252));
    Label_BeallitottPWM = label(pwm, "Label_BeallitottPWM", QStringLiteral("00 000"), QRect(28, 16, 474, 42),
                                32, true, Qt::AlignCenter);
    MBarGraph_OutputCalibration =
        bar(pwm, "MBarGraph_OutputCalibration", QRect(28, 60, 474, 33), modeUnsigned, true, 0, kOrange);
    MBarGraph_OutputCalibration->hide();
    auto* force = GroupBox_PWMErtekValtoztatas =
        group(pwm, "GroupBox_PWMErtekValtoztatas", QStringLiteral("PWM Force"), QRect(8, 100, 514, 144));
    static const char* const steps[10] = {"-10 000", "-1000", "-100", "-10",   "-1",
                                          "+1",      "+10",   "+100", "+1000", "+10 000"};
    for (int i = 0; i < 10; ++i) {
        const QByteArray name = "Button" + QByteArray::number(i + 1);
        PWMStepButtons[static_cast<std::size_t>(i)] =
            button(force, name.constData(), QString::fromLatin1(steps[i]), QRect(8 + i * 50, 22, 48, 25));
    }
    TrackBar_PWM = trackBar(force, "TrackBar_PWM", QRect(8, 58, 498, 32), 100, 10);
    TrackBar_PWM->setTickInterval(10);
    Button_Out0 = button(force, "Button_Out0", QStringLiteral("0"), QRect(8, 104, 60, 27));
    Button_Out50Percents =
        button(force, "Button_Out50Percents", QStringLiteral("50 %"), QRect(227, 104, 60, 27));
    Button_OutVegertek = button(force, "Button_OutVegertek", QStringLiteral("F"), QRect(446, 104, 60, 27));

    ListBox_OutputCalibrated = listBox(page, "ListBox_OutputCalibrated", QRect(546, 148, 175, 246));
    Image_OutputCalibrationOK =
        picture(page, "Image_OutputCalibrationOK", "CalibrationOK.png", QPoint(546, 402), false);
}

void TForm_Main::buildOutputCalibrationWizard(QWidget* page) {
    PageControl4 = named(new TPageControl(page), "PageControl4", QRect(8, 34, 562, 100));
    static const char* const titles[7] = {"Step 1/7: Change the PWM value until Iout = 4 mA",
                                          "Step 2/7: Change the PWM value until Iout = 20 mA",
                                          "Step 3/7: Check the accuracy of current",
                                          "Step 4/7: Change the PWM value until Uout = 2 V",
                                          "Step 5/7: Change the PWM value until Uout = 10 V",
                                          "Step 6/7: Check the accuracy of voltage",
                                          "Step 7/7: Write Calibration to Device"};
    for (int i = 0; i < 7; ++i) {
        const QString name = QStringLiteral("TabSheet_OutCalStep%1").arg(i + 1);
        QWidget* step = PageControl4->addPage(name, name);
        PageControl4->setTabVisibleFor(step, false);
        TabSheet_OutCalStep[static_cast<std::size_t>(i)] = step;
        const QByteArray title = "Label_OutCalStep" + QByteArray::number(i + 1);
        label(step, title.constData(), QString::fromLatin1(titles[i]), QRect(8, 8, 540, 22), 16, true);
    }
    const auto step = [&](int n) { return TabSheet_OutCalStep[static_cast<std::size_t>(n - 1)]; };
    emptyPicture(step(1), "Image24", QRect(8, 36, 100, 50));
    emptyPicture(step(2), "Image25", QRect(8, 36, 100, 50));
    emptyPicture(step(4), "Image26", QRect(8, 36, 100, 50));
    emptyPicture(step(5), "Image27", QRect(8, 36, 100, 50));
    SpeedButton_Test4mA =
        speed(step(3), "SpeedButton_Test4mA", QStringLiteral("4 mA"), QRect(8, 44, 80, 27), 8);
    SpeedButton_Test12mA = speed(step(3), "SpeedButton_Test12mA", QStringLiteral("12 mA"),
                                 QRect(96, 44, 80, 27), 8, false, true);
    SpeedButton_Test20mA =
        speed(step(3), "SpeedButton_Test20mA", QStringLiteral("20 mA"), QRect(184, 44, 80, 27), 8);
    SpeedButton_Test2V = speed(step(6), "SpeedButton_Test2V", QStringLiteral("2 V"), QRect(8, 44, 80, 27), 9);
    SpeedButton_Test6V =
        speed(step(6), "SpeedButton_Test6V", QStringLiteral("6 V"), QRect(96, 44, 80, 27), 9, false, true);
    SpeedButton_Test10V =
        speed(step(6), "SpeedButton_Test10V", QStringLiteral("10 V"), QRect(184, 44, 80, 27), 9);
    SpeedButton_WriteOutputCalibrationToVX =
        speed(step(7), "SpeedButton_WriteOutputCalibrationToVX",
              QStringLiteral("Write Calibration to Device"), QRect(8, 44, 256, 27), 9, true);
    PageControl4->setActivePage(step(1));
}

void TForm_Main::buildOutputCheckPage(QWidget* page) {
    label(page, "Label_PWMSzoveg", QStringLiteral("PWM:"), QRect(8, 10, 40, 15));
    Label_PWMErtek = label(page, "Label_PWMErtek", QStringLiteral("00 000"), QRect(50, 10, 80, 15));
    Label_OutputCheckPercent = label(page, "Label_OutputCheckPercent", QStringLiteral("0 %"),
                                     QRect(8, 36, 713, 24), 16, true, Qt::AlignCenter);
    TrackBar_OutCheck = trackBar(page, "TrackBar_OutCheck", QRect(8, 66, 713, 32), 20, 5);
    Button_OutCheckMin = button(page, "Button_OutCheckMin", QStringLiteral("0 %"), QRect(8, 106, 80, 27));
    Button_OutCheckMean =
        button(page, "Button_OutCheckMean", QStringLiteral("50 %"), QRect(324, 106, 80, 27));
    Button_OutCheckMax = button(page, "Button_OutCheckMax", QStringLiteral("100 %"), QRect(641, 106, 80, 27));
    MBarGraph_PWM = bar(page, "MBarGraph_PWM", QRect(52, 150, 625, 17), modeUnsigned, true, 0, kOrange);
}

void TForm_Main::buildTestPage(QWidget* page) {
    label(page, "Label_PWMSzoveg2", QStringLiteral("PWM:"), QRect(8, 10, 40, 15));
    Label_PWMErtek2 = label(page, "Label_PWMErtek2", QStringLiteral("00 000"), QRect(50, 10, 50, 15));
    MBarGraph_PWM2 = bar(page, "MBarGraph_PWM2", QRect(104, 9, 145, 17), modeUnsigned, true, 1, kYellow);
    label(page, "Label25", QStringLiteral("Input value:"), QRect(8, 34, 90, 15));
    Label_BemenoErtek2 =
        label(page, "Label_BemenoErtek2", QStringLiteral("0"), QRect(100, 31, 296, 20), 16, true);
    label(page, "Label28", QStringLiteral("Output value:"), QRect(8, 56, 90, 15));
    Label_OutputValue2 =
        label(page, "Label_OutputValue2", QStringLiteral("0"), QRect(100, 53, 296, 20), 16, true);

    RadioGroup_GainForce =
        radio(page, "RadioGroup_GainForce", QStringLiteral("Gain Force"),
              {QStringLiteral("Force Off"), QStringLiteral("Au = 1"), QStringLiteral("Au = 2"),
               QStringLiteral("Au = 4"), QStringLiteral("Au = 8"), QStringLiteral("Au = 16"),
               QStringLiteral("Au = 32")},
              0, QRect(8, 80, 125, 170));
    RadioGroup_GainForceCH =
        radio(page, "RadioGroup_GainForceCH", QStringLiteral("Channel Force"),
              {QStringLiteral("CH0"), QStringLiteral("CH1")}, 0, QRect(140, 80, 125, 62));
    RadioGroup_DividerForce = radio(page, "RadioGroup_DividerForce", QStringLiteral("CH1 Divider Force"),
                                    {QStringLiteral("Force Off"), QStringLiteral("Minimum Division"),
                                     QStringLiteral("Medium Division"), QStringLiteral("Maximum Division")},
                                    0, QRect(140, 148, 125, 102));
    RadioGroup_MereshatarForce =
        radio(page, "RadioGroup_MereshatarForce", QStringLiteral("Range Force"),
              {QStringLiteral("Force Off"), QStringLiteral("150 mV"), QStringLiteral("450 mV"),
               QStringLiteral("2,3 V"), QStringLiteral("10 V"), QStringLiteral("40 V"),
               QStringLiteral("100 V"), QStringLiteral("20 mA")},
              0, QRect(272, 80, 125, 170));

    const auto minMax = [&](const char* name, const QString& title, int x, const char* minCaption,
                            const char* minValue, const char* maxCaption, const char* maxValue,
                            const char* deltaCaption, const char* deltaValue, const char* clear,
                            const char* deltaBar) {
        auto* g = group(page, name, title, QRect(x, 258, 352, 110));
        label(g, minCaption, QStringLiteral("Min:"), QRect(8, 20, 70, 15));
        auto* mn = rightLabel(g, minValue, QStringLiteral("0 000 000"), QRect(80, 17, 104, 20), 16);
        label(g, maxCaption, QStringLiteral("Max:"), QRect(8, 42, 70, 15));
        auto* mx = rightLabel(g, maxValue, QStringLiteral("0 000 000"), QRect(80, 39, 104, 20), 16);
        label(g, deltaCaption, QStringLiteral("Delta max.:"), QRect(8, 64, 70, 15));
        auto* dl = rightLabel(g, deltaValue, QStringLiteral("0 000 000"), QRect(80, 61, 104, 20), 16);
        auto* b = button(g, clear, QStringLiteral("Törlés"), QRect(250, 38, 90, 27));
        auto* d = bar(g, deltaBar, QRect(8, 90, 265, 9), modeUnsigned, false, 0, kYellow);
        return std::tuple{mn, mx, dl, b, d};
    };
    std::tie(Label_Min0, Label_Max0, Label_Delta0, Button_MinMaxTorles0, MBarGraph_Delta0) =
        minMax("GroupBox4", QStringLiteral("CH0 Min-Max"), 8, "Label12", "Label_Min0", "Label17",
               "Label_Max0", "Label21", "Label_Delta0", "Button_MinMaxTorles0", "MBarGraph_Delta0");
    std::tie(Label_Min1, Label_Max1, Label_Delta1, Button_MinMaxTorles1, MBarGraph_Delta1) =
        minMax("GroupBox5", QStringLiteral("CH1 Min-Max"), 369, "Label18", "Label_Min1", "Label19",
               "Label_Max1", "Label23", "Label_Delta1", "Button_MinMaxTorles1", "MBarGraph_Delta1");

    auto* g8 =
        group(page, "GroupBox8", QStringLiteral("Csak a Velmarra tartozó adatok"), QRect(408, 8, 313, 244));
    int row = 0;
    const auto pair = [&](const char* caption, const QString& captionText, const char* value,
                          const QString& valueText) {
        const int y = 18 + 18 * row++;
        label(g8, caption, captionText, QRect(8, y, 190, 15));
        return label(g8, value, valueText, QRect(200, y, 105, 15));
    };
    Label_CalibrationStep =
        pair("Label34", QStringLiteral("Direct Control:"), "Label_CalibrationStep", QStringLiteral("0"));
    Label_ErositesCH0 =
        pair("Label16", QStringLiteral("Áram bem. erősítés:"), "Label_ErositesCH0", QStringLiteral("00"));
    Label_ErositesCH1 =
        pair("Label39", QStringLiteral("Fesz. bem. erősítés:"), "Label_ErositesCH1", QStringLiteral("00"));
    Label_NYAKCime =
        pair("Label27", QStringLiteral("NYÁK cím (NYÁK azonosító):"), "Label_NYAKCime", QStringLiteral("0"));
    Label_uDivider =
        pair("Label8", QStringLiteral("CH1 Osztás mértéke (0-2):"), "Label_uDivider", QStringLiteral("00"));
    Label_uADSamples = pair("Label2", QStringLiteral("AD SpS:"), "Label_uADSamples", QStringLiteral("0"));
    Label_RAM1AdatForras = pair("Label3", QStringLiteral("RAM1 (kalibrálás és beállítások): "),
                                "Label_RAM1AdatForras", QStringLiteral("????"));
    Label_RAM2AdatForras = pair("Label13", QStringLiteral("RAM2 (folyamatos mentések): "),
                                "Label_RAM2AdatForras", QStringLiteral("????"));
    Label_iTypeOfInstrument = pair("Label14", QStringLiteral("uTypeOfInstrument:"), "Label_iTypeOfInstrument",
                                   QStringLiteral("????"));
    SpeedButton_HomersekletMinMaxTorlese =
        speed(g8, "SpeedButton_HomersekletMinMaxTorlese",
              QStringLiteral("Hőmérséklet min.- és max értékek törlése"), QRect(8, 182, 297, 25), 5, true);
    SpeedButton_FRAMTorlesReset =
        speed(g8, "SpeedButton_FRAMTorlesReset", QStringLiteral("FRAM törlése -> Reset"),
              QRect(8, 212, 297, 25), 5, true);
    setPixelFont(SpeedButton_FRAMTorlesReset, 0, false, true);
}
