// Program start: the application, the screen behind the message routines,
// the main window on this computer's registry, and the message loop.
#include <QApplication>

#include "platform/LocalImage.h"
#include "tools/Vell_Tools.h"
#include "ui/MainWindowUnit.h"
#include "ui/QtImageList.h"
#include "ui/QtScreen.h"

#ifdef _WIN32
#include <objbase.h>
#endif

int main(int argc, char* argv[]) {
#ifdef _WIN32
  // COM for this thread, apartment-threaded as the windows need; the object
  // test may create objects on it.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
  int result = 0;
  {
    QApplication application(argc, argv);
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
