// Program start: the application, the screen behind the message routines,
// the main window on this computer's registry, and the message loop.
// One optional argument names a registry image to read at once.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "catalogue/UserClasses.h"
#include "platform/base/Text.h"
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
    "Usage: orbel [--user-classes PATH | --user NAME] [--view 64|32|both] [IMAGE]\n"
    "Browses the COM class registrations of a Windows registry.\n"
    "IMAGE, a Wine prefix, a Windows folder, a SOFTWARE or UsrClass.dat hive or a\n"
    ".reg file, is read at once, as if it had been chosen with File - Connect.\n"
    "  --user-classes PATH  lays a user's classes over the machine's: a Wine prefix\n"
    "                       (its user.reg), a UsrClass.dat hive or a .reg export\n"
    "  --user NAME          the same for a user of IMAGE (a Wine prefix's user, or\n"
    "                       one of Users\\NAME of a Windows volume)\n"
    "  --view 64|32|both    the classes of 64-bit programs (the default), of 32-bit\n"
    "                       ones, or both in one tree\n"
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
  std::fprintf(stderr,
               "orbel: %s\nUsage: orbel [--user-classes PATH | --user NAME] [--view 64|32|both] "
               "[IMAGE]\nTry 'orbel --help'.\n",
               problem.c_str());
  return 2;
}

// The view options of the command line.
struct ViewOptions {
  std::optional<std::string> userClasses, userName, view;
};

// The value of the view option at argv[i] ("--name VALUE" or
// "--name=VALUE"), `i` moved past it; nothing when argv[i] is none of them.
std::optional<std::string> ViewOption(int argc, char* argv[], int& i, std::string_view name,
                                      std::optional<int>& failure) {
  const std::string_view argument = argv[i];
  if (argument.size() > name.size() + 1 && argument.starts_with(name) &&
      argument[name.size()] == '=') {
    return std::string(argument.substr(name.size() + 1));
  }
  if (argument != name) return std::nullopt;
  if (i + 1 >= argc || argv[i + 1][0] == '\0') {
    failure = UsageError(std::string(name) + " needs a value");
    return std::nullopt;
  }
  return std::string(argv[++i]);
}

// The image named by the arguments, the toolkit's options skipped, or
// nothing, and the view options; a usage error when they are not one
// optional path and the view's options. Needs no display, so a wrong
// command line is told before the toolkit looks for one.
std::optional<int> ParseArguments(int argc, char* argv[], std::optional<std::string>& image,
                                  ViewOptions& view) {
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    std::optional<int> failure;
    if (!optionsEnd && std::strcmp(argument, "--") == 0) {
      optionsEnd = true;
    } else if (!optionsEnd && argument[0] == '-' && argument[1] == '-' && [&] {
                 for (auto [name, field] :
                      {std::pair{"--user-classes", &view.userClasses},
                       std::pair{"--user", &view.userName}, std::pair{"--view", &view.view}}) {
                   if (auto value = ViewOption(argc, argv, i, name, failure)) {
                     *field = std::move(*value);
                     return true;
                   }
                   if (failure) return true;
                 }
                 return false;
               }()) {
      if (failure) return failure;
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
  if (view.view && *view.view != "64" && *view.view != "32" && *view.view != "both") {
    return UsageError("--view takes 64, 32 or both, not " + *view.view);
  }
  if (view.userClasses && view.userName) {
    return UsageError("--user-classes and --user cannot be given together");
  }
  if (view.userName && !image) return UsageError("--user needs an IMAGE whose users it names");
  if (view.userClasses && view.userClasses->empty())
    return UsageError("--user-classes needs a value");
  return std::nullopt;
}

// The view the options ask for; nothing, with the problem told, when --user
// names no user of the image.
std::optional<orbel::ViewChoice> ChoiceOf(const ViewOptions& options, const std::string& image) {
  orbel::ViewChoice choice;
  choice.view = options.view.value_or("64");
  if (options.userClasses) {
    choice.userClasses = orbel::AbsoluteImagePath(*options.userClasses);
    choice.userName = *options.userClasses;
    // A Wine prefix has one user, who names the view.
    if (const auto users = orbel::UsersOfImage(choice.userClasses); users.size() == 1) {
      choice.userName = users.front().first;
    }
  } else if (options.userName) {
    std::string known;
    for (const auto& [name, file] : orbel::UsersOfImage(image)) {
      if (orbel::platform::EqualsNoCase(name, *options.userName)) {
        choice.userClasses = file.string();
        choice.userName = name;
      }
      known += (known.empty() ? "" : ", ") + name;
    }
    if (choice.userClasses.empty()) {
      std::fprintf(stderr, "orbel: no user \"%s\" with classes in %s (users found: %s)\n",
                   options.userName->c_str(), image.c_str(),
                   known.empty() ? "none" : known.c_str());
      return std::nullopt;
    }
  }
  return choice;
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
  ViewOptions viewOptions;
  if (const auto status = ParseArguments(argc, argv, image, viewOptions)) return *status;
  const std::string imagePath = image ? orbel::AbsoluteImagePath(*image) : std::string();
  const auto choice = ChoiceOf(viewOptions, imagePath);
  if (!choice) return 1;
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
      if (image || !choice->userClasses.empty()) window.OpenAtStart(imagePath, *choice);
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
