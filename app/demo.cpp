#include "app/demo.h"

#include <QLineEdit>

#ifdef Q_OS_WIN
#include "sim/live_line.h"
#else
#include "sim/controller_thread.h"
#endif

#include <cstdio>
#include <cstdlib>

namespace tessavin {

#ifdef Q_OS_WIN

struct Demo::Controller {
    std::shared_ptr<sim::LiveLine> line = std::make_shared<sim::LiveLine>();

    void prepare(AppOptions& options) { options.port = line; }
    bool attach(TForm1& form, QString*)
    {
        form.setPortName(QStringLiteral("demo"));
        return true;
    }
};

#else

struct Demo::Controller {
    sim::ControllerThread thread;

    void prepare(AppOptions&) { sim::ConfigureDemo(thread); }
    bool attach(TForm1& form, QString* error)
    {
        if (!thread.start(error))
            return false;
        form.setPortName(thread.slavePath());
        return true;
    }
};

#endif

Demo::Demo() = default;
Demo::~Demo() = default;

void Demo::prepare(AppOptions& options)
{
    settings_ = std::make_unique<QTemporaryDir>();
    options.settingsDir = settings_->path();
    options.fallbackSettingsDir = settings_->path();
    // The process ends at once on close; the demo's settings folder goes first.
    options.exitProcess = [this] {
        settings_->remove();
        std::fflush(nullptr);
        std::_Exit(0);
    };
    controller_ = std::make_unique<Controller>();
    controller_->prepare(options);
}

bool Demo::attach(TForm1& form, QString* error) { return !controller_ || controller_->attach(form, error); }

} // namespace tessavin
