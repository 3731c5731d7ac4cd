#pragma once
// The Confirmation dialog: "   Вы  уверены?" with "ДА" (result 1) and "НЕТ" (result 2).
// Each time it is shown or activated it places itself 5 pixels below the Main
// window's top, centred on it.
#include <QDialog>

class QLabel;
class QPushButton;
class QFrame;

class TOKBottomDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKBottomDlg(QWidget* mainWindow, QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QFrame* Bevel1 = nullptr;

public slots:
    void FormShow();
    void FormActivate();

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void place();
    QWidget* mainWindow_;
};
