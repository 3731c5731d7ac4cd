#include "app/form2.h"

#include "tessavin_version.h"

#include <QPlainTextEdit>
#include <QPushButton>

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString(84, QLatin1Char(' ')) + tr("Diag"));
    setFixedSize(661, 376);
    move(370, 217);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setGeometry(6, 6, 649, 329);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setStyleSheet(QStringLiteral("QPlainTextEdit { background: palette(dark); color: rgb(0, 255, 0); }"));
    // The trace starts under the program's version, so a copied trace says which
    // build produced it. Clear removes this line too.
    Memo->setPlainText(QStringLiteral("Tessavin " TESSAVIN_VERSION));

    Button1 = new QPushButton(tr("Clear"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry((661 - 129) / 2, 342, 129, 25);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

void TForm2::addLine(const QString& line) { Memo->appendPlainText(line); }

void TForm2::Button1Click() { Memo->clear(); }

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Form3"));
    resize(1305, 675);
    move(192, 125);
}
