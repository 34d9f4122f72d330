#include "base/Interrupt.h"
#include "frontpanel/TSystem.h"
#include "gui/Orolith_Main.h"

#include <QApplication>

#include <clocale>
#include <cstring>
#include <exception>
#include <iostream>
#include <vector>

int main(int argc, char* argv[]) {
  // Answered before Qt starts, so that it needs no display.
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "orolith " << OROLITH_VERSION << '\n';
    return 0;
  }
  // First of all, so that a signal never finds a model half-saved without a handler.
  orolith::InstallInterruptHandlers();
  QApplication application(argc, argv);
  // Qt adopts the environment's locale for the C library too; every number the program shows
  // or reads goes through the separator read once here, so C conversions stay with the point.
  std::setlocale(LC_NUMERIC, "C");
  try {
    // QApplication has taken out its own options by now.
    const std::vector<const char*> arguments(argv, argv + argc);
    orolith::TForm4 form(arguments, orolith::EnvironmentDecimalSeparator());
    form.show();
    const int status = QApplication::exec();
    // Ended by INT, TERM or HUP: the status a shell gives a program the signal ended.
    if (const int signal = orolith::InterruptSignal(); signal != 0) return 128 + signal;
    return status;
  } catch (const std::exception& error) {
    std::cerr << "orolith: " << error.what() << '\n';
    return 1;
  }
}
