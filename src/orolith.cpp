#include "frontpanel/TSystem.h"
#include "frontpanel/gui/Orolith_Main.h"

#include <QApplication>

#include <clocale>
#include <exception>
#include <iostream>
#include <vector>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // Qt adopts the environment's locale for the C library too; every number the program shows
  // or reads goes through the separator read once here, so C conversions stay with the point.
  std::setlocale(LC_NUMERIC, "C");
  try {
    // QApplication has taken out its own options by now.
    const std::vector<const char*> arguments(argv, argv + argc);
    orolith::TForm4 form(arguments, orolith::EnvironmentDecimalSeparator());
    form.show();
    return QApplication::exec();
  } catch (const std::exception& error) {
    std::cerr << "orolith: " << error.what() << '\n';
    return 1;
  }
}
