// Program start: the application, the screen behind the message routines,
// the main window on this computer's registry, and the message loop.
// One optional argument names a registry image to read at once.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/computer/LocalImage.h"
#include "tools/Vell_Tools.h"
#include "ui/MainWindowUnit.h"
#include "ui/PCSelectorUnit.h"
#include "ui/QtImageList.h"
#include "ui/QtScreen.h"

#ifdef _WIN32
#include <objbase.h>
#endif

namespace {

constexpr char kUsage[] =
    "Usage: orbel [IMAGE]\n"
    "Browses the COM class registrations of a Windows registry.\n"
    "IMAGE, a Wine prefix, a Windows folder, a SOFTWARE or UsrClass.dat hive or a\n"
    ".reg file, is read at once, as if it had been chosen with File - Connect.\n";

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

// The image named by the arguments left after the toolkit's own, or nothing;
// false with a message on stderr when they are not one optional path.
bool ParseArguments(int argc, char* argv[], std::optional<std::string>& image) {
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!optionsEnd && std::strcmp(argument, "--") == 0) {
      optionsEnd = true;
    } else if (!optionsEnd && argument[0] == '-' && argument[1] != '\0') {
      std::fprintf(stderr, "orbel: unknown option %s\nTry 'orbel --help'.\n", argument);
      return false;
    } else if (image) {
      std::fprintf(stderr, "orbel: one image at most, not also %s\nTry 'orbel --help'.\n",
                   argument);
      return false;
    } else if (argument[0] == '\0') {
      std::fprintf(stderr, "orbel: the image's path is empty\nTry 'orbel --help'.\n");
      return false;
    } else {
      image = argument;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Help needs no display, so it is answered before the toolkit starts.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (IsHelp(argv[i])) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
#ifdef _WIN32
  // COM for this thread, apartment-threaded as the windows need; the object
  // test may create objects on it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
  int result = 0;
  {
    QApplication application(argc, argv);
    // The toolkit has taken its own options out of argv by now.
    std::optional<std::string> image;
    if (!ParseArguments(argc, argv, image)) return 2;
    QApplication::setApplicationName(QStringLiteral("Vell Orbel"));
    orbel::SetApplicationTitle(QStringLiteral("Vell Orbel"));
    orbel::InitUiResources();
    QIcon logo;
    for (int size : {16, 32, 48, 64, 128}) logo.addPixmap(orbel::RenderSvg(orbel::kLogoFile, size));
    QApplication::setWindowIcon(logo);
    orbel::QtScreen screen;
    orbel::SetScreen(&screen);
    {
      orbel::TMainWindow window(orbel::platform::SystemRegistry());
      if (image) window.OpenAtStart(orbel::AbsoluteImagePath(*image));
      window.show();
      window.activateWindow();
      result = QApplication::exec();
    }
    orbel::SetScreen(nullptr);
  }
#ifdef _WIN32
  CoUninitialize();
#endif
  return result;
}
