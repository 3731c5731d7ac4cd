#pragma once

namespace tessavin {
// Starts the application: the four windows in their order, then the message loop.
int RunApplication(int argc, char** argv);
} // namespace tessavin
