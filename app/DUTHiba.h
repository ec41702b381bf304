#pragma once
// TForm_DUTHiba: the dialog that tells the operator the instrument's firmware is not supported.
#include <QDialog>

class QPushButton;
class QTextEdit;

class TForm_DUTHiba : public QDialog {
    Q_OBJECT
public:
    explicit TForm_DUTHiba(QWidget* owner = nullptr);

    QTextEdit* Memo_Megnevezes = nullptr;
    QPushButton* Button_OK = nullptr;

    void FormActivate();
    void Button_OKClick();

protected:
    void showEvent(QShowEvent* event) override;
};
