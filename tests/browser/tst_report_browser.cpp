// The visit report of the emulated controller as a browser shows it: headless
// Chromium builds the page (its own inline script runs under the page's policy,
// nothing from the controller does) and dumps the document, which holds the
// summary's values, one chart point per dated archive record and the record
// texts as text; a screenshot of the page is not blank.
#include "tests/support/test_support.h"

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <set>

using namespace tessavin;
using namespace tessavin::test;

namespace {

const QString kCli = QStringLiteral(TESSAVIN_CLI);

QByteArray runChromium(const QString& chromium, const QStringList& args, const QString& profile)
{
    QProcess p;
    p.start(chromium,
            QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--user-data-dir=" + profile}
                + args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return "<chromium did not finish>";
    }
    return p.readAllStandardOutput();
}

} // namespace

class ReportBrowserTest : public QObject {
    Q_OBJECT

private slots:
    void reportInChromium()
    {
        const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            QSKIP("[chromium] Chromium is not installed: the report is not checked in a browser");
        sim::ControllerThread sim;
        SKIP_UNLESS_STARTED(sim.start());
        sim.withController([](sim::Controller& c) {
            c.state().eventLog.appendText(
                sim::MakeLogRecord('<', 2024, 3, 5, 10, 0, 0, "<img src=x onerror=alert(1)> pressure high"));
            c.state().script = "<script>alert(2)</script>";
        });
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString report = dir.filePath(QStringLiteral("visit"));

        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(
            QStringLiteral("TESSAVIN_LINK_TIMING"),
            QStringLiteral("first-byte-pause=1,first-byte-wait=20,first-byte-tries=12,idle-gap=10,pump-slice=5"));
        env.insert(QStringLiteral("TZ"), QStringLiteral("UTC0"));
        cli.setProcessEnvironment(env);
        cli.start(kCli,
                  {QStringLiteral("--port"), sim.slavePath(), QStringLiteral("--baud"), QStringLiteral("9600"),
                   QStringLiteral("report"), report});
        QVERIFY(cli.waitForFinished(240000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());

        int dated = 0;
        for (const QByteArray& line : readFile(report + "/archive.jsonl").split('\n'))
            dated += !line.isEmpty() && !QJsonDocument::fromJson(line).object().value("time").isNull();
        QVERIFY(dated > 0);

        const QString page = QUrl::fromLocalFile(report + "/index.html").toString();
        const QByteArray dom = runChromium(chromium, {"--dump-dom", page}, dir.filePath("profile"));
        const QByteArray port = "<td>" + sim.slavePath().toUtf8() + "</td>";
        for (const QByteArray& value : {QByteArray("<td>1234</td>"), QByteArray("<td>1.50</td>"),
                                        QByteArray("<td>9600</td>"), QByteArray("<td>OK (status 0)</td>"), port})
            QVERIFY2(dom.contains(value), value.constData());
        QCOMPARE(int(dom.count("<circle class=\"point\"")), dated);
        // The page's own script ran (it counts the rows); the controller's did not.
        QVERIFY(dom.contains(QByteArray::number(sim.stateSnapshot().eventLog.count) + " of "));
        QVERIFY(dom.contains("&lt;img src=x onerror=alert(1)&gt; pressure high"));
        QVERIFY(dom.contains("&lt;script&gt;alert(2)&lt;/script&gt;"));
        QVERIFY(!dom.contains("<img"));

        const QString shot = dir.filePath("page.png");
        runChromium(chromium, {"--screenshot=" + shot, "--window-size=1200,1600", "--hide-scrollbars", page},
                    dir.filePath("profile"));
        const QImage image(shot);
        QVERIFY(!image.isNull());
        std::set<QRgb> colours;
        for (int y = 0; y < image.height(); y += 7)
            for (int x = 0; x < image.width(); x += 7)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 8, "the screenshot is blank");
    }
};

QTEST_GUILESS_MAIN(ReportBrowserTest)
#include "tst_report_browser.moc"
