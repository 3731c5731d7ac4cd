#pragma once
// --demo: an emulated controller alive as long as the window, with its name in
// the port field, and settings kept in a folder of their own so the real
// settings never get the demo's port. Where the controller runs is the one
// thing that differs between systems: on Linux (and any system with POSIX
// pseudo-terminals) on a pseudo-terminal served by a thread, whose path the
// port field holds; on Windows inside the program, behind the port itself, and
// the port field holds "demo".
#include "app/form1.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace tessavin {

class Demo {
public:
    Demo();
    ~Demo();

    // Keeps the settings apart and, where the controller runs in the program,
    // gives the window its port.
    void prepare(AppOptions& options);
    // Starts the controller and puts its name into the port field. False (with
    // *error) when it cannot start.
    bool attach(TForm1& form, QString* error);

private:
    struct Controller;
    std::unique_ptr<QTemporaryDir> settings_;
    std::unique_ptr<Controller> controller_;
};

} // namespace tessavin
