// The window's own code (the app library the window's program is made of) over
// a real port, driven as a person would: the end-to-end Windows test runs it
// under wine against the emulated controller on a COM port, and on Linux against
// the same controller on its pseudo-terminal, and compares what Memo1 shows.
//
//   window_log PORT BAUD MEMO_FILE [PNG]
//
// Types PORT and BAUD into their fields, presses Open, ticks the newest ten records and
// presses LOG; writes Memo1 to MEMO_FILE (and a picture of the window to PNG).
// Exit 0 when the port opened and the log was read, 1 otherwise.
#include "tests/support/window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QFile>
#include <QPixmap>

#include <cstdio>

using tessavin::test::widget;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        std::fputs("usage: window_log PORT BAUD MEMO_FILE [PNG]\n", stderr);
        return 2;
    }
    tessavin::test::WindowFixture f; // the system's timings, the system's port
    TForm1& w = *f.form1;
    w.show();
    widget<QLineEdit>(w, "Edit1")->setText(args[1]);
    widget<QLineEdit>(w, "Boud")->setText(args[2]);
    widget<QPushButton>(w, "OpenCom")->click();
    if (!w.session().link.isOpen()) {
        std::fprintf(stderr, "window_log: the port did not open: %s\n", qPrintable(f.seam.messages.join("; ")));
        return 1;
    }
    widget<QCheckBox>(w, "Last10")->click();
    widget<QPushButton>(w, "ButContLog")->click();
    QFile memo(args[3]);
    if (!memo.open(QIODevice::WriteOnly) || memo.write(widget<QPlainTextEdit>(w, "Memo1")->toPlainText().toUtf8()) < 0)
        return 1;
    if (args.size() > 4 && !w.grab().save(args[4]))
        return 1;
    return widget<QPlainTextEdit>(w, "Memo1")->toPlainText().startsWith(QLatin1String("N=")) ? 0 : 1;
}
