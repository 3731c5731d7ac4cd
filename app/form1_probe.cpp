// The port field's "Find the controller…": the probe with a progress dialog.
#include "app/form1.h"

#include "features/probe.h"
#include "serial/serial_link.h"
#include "serial/system_port.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QProgressDialog>

void TForm1::FindControllerClick()
{
    // The window's own port would be busy to the probe.
    session_->link.close();
    tessavin::ProbeRequest request;
    request.ports = tessavin::ProbePorts();
    // A typed port the system does not list (a pseudo-terminal) is tried first.
    const QString typed = Edit1->text().trimmed();
    if (!typed.isEmpty() && !request.ports.contains(tessavin::PortDeviceName(typed)))
        request.ports.prepend(typed);
    request.rates = tessavin::ProbeRates(Boud->text().trimmed().toInt());
    if (request.ports.isEmpty()) {
        seam_->showMessage(this, tr("No serial ports to try: type one into the port field."));
        return;
    }

    QProgressDialog progress(tr("Looking for the controller…"), tr("Stop"), 0,
                             static_cast<int>(request.ports.size() * request.rates.size() * 2), this);
    progress.setObjectName(QStringLiteral("FindControllerProgress"));
    progress.setWindowTitle(tr("Find the controller"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QStringList lines;
    tessavin::ProbeHooks hooks;
    hooks.onTry = [&](const tessavin::ProbeTry& t) {
        const QString line = tr("%1 at %2 baud: %3%4")
                                 .arg(t.port)
                                 .arg(t.baud)
                                 .arg(tessavin::ProbeOutcomeName(t.outcome),
                                      t.detail.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(t.detail));
        lines << line;
        progress.setLabelText(line);
        progress.setValue(std::min(progress.value() + 1, progress.maximum() - 1));
    };
    hooks.stop = [&] { return progress.wasCanceled(); };
    hooks.pump = [] { QCoreApplication::processEvents(); };
    const tessavin::ProbeResult result = tessavin::FindController(request, hooks);
    progress.close();
    if (result.found) {
        Edit1->setText(result.found->port);
        Boud->setText(QString::number(result.found->baud));
    } else if (!result.stopped) {
        seam_->showMessage(this, tr("No controller answered."), lines.join(QLatin1Char('\n')));
    }
}
