#include "app/tools/TrafficWindow.h"

#include "app/texts/Texts.h"
#include "app/tools/ToolWindows.h"
#include "common/pictureformat.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTimer>

namespace vx::app::tools {

namespace {

QString outcomeWords(const ToolWindows& t, const RecordedExchange& e) {
    switch (e.outcome) {
    case Outcome::Ok:
        return QStringLiteral("OK");
    case Outcome::TimeOut:
        return t.inLanguage(Text::TimeOut);
    case Outcome::CrcError:
        return t.inLanguage(Text::CrcError);
    case Outcome::SlaveError:
        return t.inLanguage(Text::SlaveError).arg(e.slaveError);
    case Outcome::ClosedPort:
        return t.inLanguage(Text::ClosedPort);
    case Outcome::ShortReply:
        return t.inLanguage(Text::ShortReply);
    }
    return {};
}

QString roundTrip(const RecordedExchange& e) {
    return e.roundTripUs < 0 ? QString()
                             : QString::fromStdString(vx::formatPicture(e.roundTripUs / 1000.0, "0.000"));
}

} // namespace

// ---- model

TrafficModel::TrafficModel(const TrafficRing& ring, ToolWindows& tools, QObject* parent)
    : QAbstractTableModel(parent), ring_(ring), tools_(tools) {
    rebuild();
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

const RecordedExchange* TrafficModel::exchangeAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
    return ring_.byNumber(rows_[static_cast<std::size_t>(row)]);
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    const RecordedExchange* e = exchangeAt(index.row());
    if (!e) return {};
    if (role == Qt::ForegroundRole && e->failed()) return QColor(0xc0, 0x20, 0x20);
    if (role == Qt::TextAlignmentRole)
        return index.column() == ColOutcome || index.column() == ColTime
                   ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
    case ColNumber:
        return QString::number(e->number);
    case ColTime:
        return QDateTime::fromMSecsSinceEpoch(e->wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    case ColAttempt:
        return e->attempt ? QString::number(e->attempt) : QStringLiteral("-");
    case ColAddress:
    case ColFunction: {
        const FrameHeader h = requestHeader(*e);
        const int v = index.column() == ColAddress ? h.address : h.function;
        return v < 0 ? QStringLiteral("-") : QString::number(v);
    }
    case ColOutcome:
        return outcomeWords(tools_, *e);
    case ColRequest:
        return QString::number(e->requestLength);
    case ColReply:
        return QString::number(e->replyLength);
    case ColRoundTrip:
        return roundTrip(*e);
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case ColNumber:
        return QStringLiteral("#");
    case ColTime:
        return tools_.inLanguage(Text::Time);
    case ColAttempt:
        return tools_.inLanguage(Text::Attempt);
    case ColAddress:
        return tools_.inLanguage(Text::Address);
    case ColFunction:
        return tools_.inLanguage(Text::Function);
    case ColOutcome:
        return tools_.inLanguage(Text::Outcome);
    case ColRequest:
        return tools_.inLanguage(Text::RequestBytes);
    case ColReply:
        return tools_.inLanguage(Text::ReplyBytes);
    case ColRoundTrip:
        return tools_.inLanguage(Text::RoundTripMs);
    default:
        return {};
    }
}

void TrafficModel::setFailuresOnly(bool on) {
    if (on == failuresOnly_) return;
    failuresOnly_ = on;
    rebuild();
}

int TrafficModel::rowOf(std::uint64_t number) const {
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), number);
    return it != rows_.end() && *it == number && ring_.byNumber(number) ? static_cast<int>(it - rows_.begin())
                                                                        : -1;
}

void TrafficModel::rebuild() {
    beginResetModel();
    rows_.clear();
    for (std::size_t i = 0; i < ring_.size(); ++i)
        if (!failuresOnly_ || ring_.at(i).failed()) rows_.push_back(ring_.at(i).number);
    seen_ = ring_.nextNumber();
    endResetModel();
}

void TrafficModel::update() {
    const std::uint64_t first = ring_.firstNumber();
    std::size_t gone = 0;
    while (gone < rows_.size() && rows_[gone] < first)
        ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(gone));
        endRemoveRows();
    }
    std::vector<std::uint64_t> fresh;
    for (std::uint64_t n = std::max(seen_, first); n < ring_.nextNumber(); ++n)
        if (!failuresOnly_ || ring_.byNumber(n)->failed()) fresh.push_back(n);
    seen_ = ring_.nextNumber();
    if (fresh.empty()) return;
    const int at = static_cast<int>(rows_.size());
    beginInsertRows({}, at, at + static_cast<int>(fresh.size()) - 1);
    rows_.insert(rows_.end(), fresh.begin(), fresh.end());
    endInsertRows();
}

void TrafficModel::retranslate() {
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!rows_.empty()) emit dataChanged(index(0, ColOutcome), index(rowCount() - 1, ColOutcome));
}

// ---- window

TrafficWindow::TrafficWindow(ToolWindows& tools) : QWidget(nullptr, Qt::Window), tools_(tools) {
    setObjectName(QStringLiteral("TrafficWindow"));
    auto* layout = new QVBoxLayout(this);
    // A fixed least size, set before the window exists: one the layout changed later would have to be
    // handed to a window already on the screen on every change.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(420, 260);
    auto* bar = new QHBoxLayout;
    Button_Pause = new QPushButton(this);
    Button_Pause->setObjectName(QStringLiteral("Button_Pause"));
    Button_Pause->setCheckable(true);
    Button_Pause->setChecked(tools_.trafficPaused());
    Button_Clear = new QPushButton(this);
    Button_Clear->setObjectName(QStringLiteral("Button_Clear"));
    CheckBox_FailuresOnly = new QCheckBox(this);
    CheckBox_FailuresOnly->setObjectName(QStringLiteral("CheckBox_FailuresOnly"));
    Button_Save = new QPushButton(this);
    Button_Save->setObjectName(QStringLiteral("Button_Save"));
    Label_Count = new QLabel(this);
    Label_Count->setObjectName(QStringLiteral("Label_Count"));
    bar->addWidget(Button_Pause);
    bar->addWidget(Button_Clear);
    bar->addWidget(CheckBox_FailuresOnly);
    bar->addWidget(Button_Save);
    bar->addStretch(1);
    bar->addWidget(Label_Count);
    layout->addLayout(bar);

    auto* split = new QSplitter(Qt::Horizontal, this);
    model_ = new TrafficModel(tools_.traffic(), tools_, this);
    Table_Exchanges = new QTableView(split);
    Table_Exchanges->setObjectName(QStringLiteral("Table_Exchanges"));
    Table_Exchanges->setModel(model_);
    Table_Exchanges->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table_Exchanges->setSelectionMode(QAbstractItemView::SingleSelection);
    Table_Exchanges->verticalHeader()->hide();
    // Fixed row heights: ten thousand rows are then laid out without measuring each.
    Table_Exchanges->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table_Exchanges->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    Table_Exchanges->horizontalHeader()->setStretchLastSection(true);
    Memo_Detail = new QPlainTextEdit(split);
    Memo_Detail->setObjectName(QStringLiteral("Memo_Detail"));
    Memo_Detail->setReadOnly(true);
    Memo_Detail->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo_Detail->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Wide enough for a whole hex line with its text column, so the dump is never cut at the right.
    const QFontMetrics mono(Memo_Detail->font());
    Memo_Detail->setMinimumWidth(mono.horizontalAdvance(QString(78, QLatin1Char('0'))) +
                                 Memo_Detail->verticalScrollBar()->sizeHint().width() +
                                 2 * Memo_Detail->frameWidth() + 8);
    split->setCollapsible(1, false);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    layout->addWidget(split, 1);

    connect(Button_Pause, &QPushButton::toggled, this, [this](bool on) {
        tools_.setTrafficPaused(on);
        applyTexts();
    });
    connect(Button_Clear, &QPushButton::clicked, this, [this] {
        tools_.clearTraffic();
        update();
    });
    connect(CheckBox_FailuresOnly, &QCheckBox::toggled, this, [this](bool on) {
        // The selected exchange stays selected when the filter still shows it; otherwise the detail
        // pane empties rather than showing a row the table hides.
        const RecordedExchange* picked = model_->exchangeAt(Table_Exchanges->currentIndex().row());
        const std::uint64_t number = picked ? picked->number : 0;
        model_->setFailuresOnly(on);
        const int row = picked ? model_->rowOf(number) : -1;
        if (row >= 0) {
            selectRow(row);
        } else {
            Table_Exchanges->clearSelection();
            Table_Exchanges->setCurrentIndex({});
            follow_ = true;
            const QScopedValueRollback ours(updating_, true);
            Table_Exchanges->scrollToBottom();
        }
        update();
        showDetail();
    });
    connect(Button_Save, &QPushButton::clicked, this, &TrafficWindow::saveAsked);
    connect(Table_Exchanges->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && !updating_) follow_ = false;
                showDetail();
            });
    connect(Table_Exchanges->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (!updating_ && value >= Table_Exchanges->verticalScrollBar()->maximum()) follow_ = true;
    });
    timer_ = new QTimer(this);
    timer_->setInterval(250);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (isVisible()) update();
    });
    timer_->start();
    tools_.host().onLanguageApplied(this, [this] { applyTexts(); });
    applyTexts();
    Table_Exchanges->resizeColumnsToContents();
}

void TrafficWindow::applyTexts() {
    setWindowTitle(tools_.inLanguage(Text::TrafficTitle) + QStringLiteral(" - VX2207"));
    Button_Pause->setText(Button_Pause->isChecked() ? tools_.inLanguage(Text::Resume)
                                                    : tools_.inLanguage(Text::Pause));
    Button_Clear->setText(tools_.inLanguage(Text::Clear));
    CheckBox_FailuresOnly->setText(tools_.inLanguage(Text::FailuresOnly));
    Button_Save->setText(tools_.inLanguage(Text::Save));
    model_->retranslate();
    update();
    showDetail();
}

void TrafficWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    update();
    Table_Exchanges->scrollToBottom();
}

void TrafficWindow::update() {
    const QScopedValueRollback ours(updating_, true);
    model_->update();
    if (follow_)
        Table_Exchanges->scrollToBottom();
    else if (Table_Exchanges->currentIndex().isValid())
        // Rows leaving the ring at the top move the picked one up; it stays in sight.
        Table_Exchanges->scrollTo(Table_Exchanges->currentIndex(), QAbstractItemView::EnsureVisible);
    Label_Count->setText(
        tools_.inLanguage(Text::ShownOfLast).arg(model_->rowCount()).arg(tools_.traffic().size()));
}

void TrafficWindow::selectRow(int row) {
    Table_Exchanges->selectRow(row);
    Table_Exchanges->scrollTo(model_->index(row, 0));
    follow_ = false;
}

QString TrafficWindow::detailText() const {
    const RecordedExchange* e = model_->exchangeAt(Table_Exchanges->currentIndex().row());
    if (!e) return {};
    QString s = QStringLiteral("#%1  %2  %3 %4  %5")
                    .arg(e->number)
                    .arg(QDateTime::fromMSecsSinceEpoch(e->wallMs).toString(
                        QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                    .arg(tools_.inLanguage(Text::AttemptWord))
                    .arg(e->attempt ? QString::number(e->attempt) : QStringLiteral("-"))
                    .arg(outcomeWords(tools_, *e));
    if (e->roundTripUs >= 0) s += QStringLiteral("  %1 ms").arg(roundTrip(*e));
    s += QLatin1Char('\n');
    const auto frame = [&](const QString& title, const DecodedFrame& d,
                           const std::vector<std::uint8_t>& bytes, int length) {
        s += QLatin1Char('\n') + title +
             QStringLiteral(" (%1)\n").arg(tools_.inLanguage(Text::ByteCount).arg(length));
        if (bytes.empty()) {
            s += QStringLiteral("  ") + tools_.inLanguage(Text::NoBytes) + QLatin1Char('\n');
            return;
        }
        for (const auto& f : d.header)
            s += QStringLiteral("  %1 = %2\n")
                     .arg(QString::fromUtf8(f.name.data(), static_cast<int>(f.name.size())),
                          QString::fromStdString(f.value));
        for (const auto& f : d.fields)
            s += QStringLiteral("    %1 = %2\n")
                     .arg(QString::fromUtf8(f.name.data(), static_cast<int>(f.name.size())),
                          QString::fromStdString(f.value));
        if (d.truncated) s += QStringLiteral("  …\n");
        for (const QString& line : QString::fromStdString(hexLines(bytes)).split(QLatin1Char('\n')))
            s += QStringLiteral("  ") + line + QLatin1Char('\n');
    };
    frame(tools_.inLanguage(Text::Request), decodeRequestFrame(*e), e->request, e->requestLength);
    frame(tools_.inLanguage(Text::Reply), decodeReplyFrame(*e), e->reply, e->replyLength);
    return s;
}

void TrafficWindow::showDetail() {
    const QString text = detailText();
    if (Memo_Detail->toPlainText() != text) Memo_Detail->setPlainText(text);
}

QString TrafficWindow::saveTo(const QString& path) const {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return tools_.inLanguage(Text::FileCannotBeWritten) + f.errorString();
    std::string text;
    for (int row = 0; row < model_->rowCount(); ++row)
        if (const RecordedExchange* e = model_->exchangeAt(row)) text += exchangeText(*e);
    if (f.write(text.data(), static_cast<qint64>(text.size())) < 0 || !f.commit())
        return tools_.inLanguage(Text::FileCannotBeWritten) + f.errorString();
    return {};
}

void TrafficWindow::saveAsked() {
    const QString title = tools_.inLanguage(Text::SaveTrafficTitle);
    const QString suggested =
        QStringLiteral("VX2207-traffic-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(
        this, title, suggested, tools_.inLanguage(Text::TextFiles) + QStringLiteral(" (*.txt)"));
    if (path.isEmpty()) return;
    if (const QString error = saveTo(path); !error.isEmpty()) QMessageBox::warning(this, title, error);
}

} // namespace vx::app::tools
