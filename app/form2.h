#pragma once
// The Diagnostic window: its memo opens with the line "Tessavin <version>" and
// collects the trace lines of the configuration link.
#include <QWidget>

class QPlainTextEdit;
class QPushButton;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QPlainTextEdit* Memo = nullptr;
    QPushButton* Button1 = nullptr;

    void addLine(const QString& line);

public slots:
    void Button1Click();
};

// The auxiliary window: no contents, never shown by any operation.
class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
};
