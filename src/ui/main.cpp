// Program start: the application, the screen behind the message routines,
// the main window on this computer's registry, and the message loop.
// One optional argument names a registry image to read at once.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

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
    ".reg file, is read at once, as if it had been chosen with File - Connect.\n"
    "The toolkit's own options (-platform NAME, -display NAME, -style NAME, ...) are\n"
    "accepted as well.\n";

// The toolkit's documented options, which it takes out of argv itself, each
// with one or two leading dashes: those followed by a value, the flags, and
// those with the value joined after "=".
constexpr std::string_view kToolkitOptionsWithValue =
    " platform platformpluginpath platformtheme plugin qwindowgeometry qwindowicon qwindowtitle"
    " session display geometry title icon name visual style stylesheet ";
constexpr std::string_view kToolkitFlags = " reverse widgetcount nograb dograb testability ";
constexpr std::string_view kToolkitJoinedOptions =
    " style stylesheet qmljsdebugger dialogs fontengine ";

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

bool Lists(std::string_view list, std::string_view name) {
  return !name.empty() && name.find(' ') == std::string_view::npos &&
         list.find(" " + std::string(name) + " ") != std::string_view::npos;
}

// How many arguments a toolkit option at `argument` takes up: 0 when it is
// none, 1 for a flag or a joined value, 2 for an option and its value.
int ToolkitOptionLength(std::string_view argument) {
  argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
  if (Lists(kToolkitOptionsWithValue, argument)) return 2;
  if (Lists(kToolkitFlags, argument)) return 1;
  const std::size_t equals = argument.find('=');
  if (equals != std::string_view::npos && Lists(kToolkitJoinedOptions, argument.substr(0, equals)))
    return 1;
  return 0;
}

int UsageError(const std::string& problem) {
  std::fprintf(stderr, "orbel: %s\nUsage: orbel [IMAGE]\nTry 'orbel --help'.\n", problem.c_str());
  return 2;
}

// The image named by the arguments, the toolkit's options skipped, or
// nothing; a usage error when they are not one optional path. Needs no
// display, so a wrong command line is told before the toolkit looks for one.
std::optional<int> ParseArguments(int argc, char* argv[], std::optional<std::string>& image) {
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!optionsEnd && std::strcmp(argument, "--") == 0) {
      optionsEnd = true;
    } else if (!optionsEnd && argument[0] == '-' && argument[1] != '\0') {
      const int length = ToolkitOptionLength(argument);
      if (length == 0) return UsageError(std::string("unknown option ") + argument);
      if (i + length > argc) return UsageError(std::string(argument) + " needs a value");
      i += length - 1;
    } else if (image) {
      return UsageError(std::string("one image at most, not also ") + argument);
    } else if (argument[0] == '\0') {
      return UsageError("the image's path is empty");
    } else {
      image = argument;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Help and a wrong command line need no display, so they are answered
  // before the toolkit starts.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (IsHelp(argv[i])) {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  std::optional<std::string> image;
  if (const auto status = ParseArguments(argc, argv, image)) return *status;
#ifdef _WIN32
  // COM for this thread, apartment-threaded as the windows need; the object
  // test may create objects on it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
  int result = 0;
  {
    QApplication application(argc, argv);
    // The class of every window (WM_CLASS), which the menu entry names as its
    // StartupWMClass, and the entry itself, for docks and Wayland.
    QApplication::setApplicationName(QStringLiteral("Orbel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.vell.Orbel"));
    orbel::SetApplicationTitle(QStringLiteral("Vell Orbel"));
    orbel::InitUiResources();
    QIcon logo;
    for (int size : {16, 32, 48, 64, 128}) logo.addPixmap(orbel::RenderImage(orbel::kLogoFile, size));
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
