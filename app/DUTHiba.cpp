#include "app/DUTHiba.h"

#include <QPushButton>
#include <QShowEvent>
#include <QTextEdit>

TForm_DUTHiba::TForm_DUTHiba(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("Form_DUTHiba"));
    // No title-bar buttons: the dialog is left only through OK (or Esc, which presses it).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QStringLiteral("Nem megfelelő szoftver verzió!"));
    setModal(true);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(416, 306);

    Memo_Megnevezes = new QTextEdit(this);
    Memo_Megnevezes->setObjectName(QStringLiteral("Memo_Megnevezes"));
    Memo_Megnevezes->setGeometry(7, 16, 402, 233);
    Memo_Megnevezes->setReadOnly(true);
    Memo_Megnevezes->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    QFont memoFont(QStringLiteral("Arial"));
    memoFont.setPixelSize(19);
    Memo_Megnevezes->setFont(memoFont);
    Memo_Megnevezes->setFrameShape(QFrame::NoFrame);
    Memo_Megnevezes->setStyleSheet(QStringLiteral("QTextEdit { background-color: palette(window); }"));

    Button_OK = new QPushButton(QStringLiteral("OK"), this);
    Button_OK->setObjectName(QStringLiteral("Button_OK"));
    Button_OK->setGeometry(112, 264, 185, 33);
    Button_OK->setDefault(true);
    connect(Button_OK, &QPushButton::clicked, this, &TForm_DUTHiba::Button_OKClick);
}

void TForm_DUTHiba::FormActivate() {
    Button_OK->setFocus();
}

void TForm_DUTHiba::Button_OKClick() {
    accept();
}

void TForm_DUTHiba::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormActivate();
}
