#include "app/okbottomdlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

TOKBottomDlg::TOKBottomDlg(QWidget* mainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , mainWindow_(mainWindow)
{
    setObjectName(QStringLiteral("OKBottomDlg"));
    setWindowTitle(QString(25, QLatin1Char(' ')) + tr("ВОПРОС"));
    setFixedSize(207, 92);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    setFont(font);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setGeometry(10, 8, 186, 41);

    Label1 = new QLabel(tr("   Вы  уверены?"), Bevel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = font;
    big.setBold(false);
    big.setPixelSize(19);
    Label1->setFont(big);
    Label1->setGeometry(8, 8, 170, 25);

    OKBtn = new QPushButton(tr("ДА"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(20, 58, 75, 25);
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { done(1); });

    CancelBtn = new QPushButton(tr("НЕТ"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(112, 58, 75, 25);
    connect(CancelBtn, &QPushButton::clicked, this, [this] { done(2); });
}

void TOKBottomDlg::place()
{
    if (!mainWindow_)
        return;
    const QRect main = mainWindow_->frameGeometry();
    const int left = main.left() + main.width() / 2 - frameGeometry().width() / 2;
    move(left, main.top() + 5);
    // Pending window events run; an answer already typed waits for the
    // dialog's own loop, which would otherwise start after it and wait for ever.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TOKBottomDlg::FormShow() { place(); }
void TOKBottomDlg::FormActivate() { place(); }

void TOKBottomDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

bool TOKBottomDlg::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    if (event->type() == QEvent::KeyPress) {
        // Esc closes with result 2, as the "НЕТ" button does.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            done(2);
            return true;
        }
    }
    return QDialog::event(event);
}
