// The small routines every window shares: message boxes, the busy cursor, "%1"
// substitution, shell open, the font test, the computer name, the platform kind
// and the message pump. No toolkit here: whatever needs a screen goes through the
// Screen interface, which the user interface installs with SetScreen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orbel {

// The maker's web site (opened by OpenWebSite, shown by the About box) and mail address.
inline constexpr char kMakerWebSite[] = "https://www.vell.example/";
inline constexpr char kMakerEMail[] = "orbel@vell.example";

enum class MessageKind { Confirm, Error, Information, Warning, Plain };

// What the routines need from the user interface. All calls come from the
// user-interface thread.
class Screen {
 public:
  virtual ~Screen() = default;
  // A modal box with the kind's caption, icon and buttons; true only when "&Yes" was chosen.
  virtual bool ShowMessage(MessageKind kind, const std::string& caption,
                           const std::string& text) = 0;
  // Hourglass or arrow, application-wide.
  virtual void SetCursorBusy(bool busy) = 0;
  // Runs queued window messages, then returns.
  virtual void ProcessPendingEvents() = 0;
  // Installed screen font family names, in list order.
  virtual std::vector<std::string> FontFamilies() = 0;
  // Opens a document, program or address with its associated program; the result is ignored.
  virtual void OpenWithShell(const std::string& target) = 0;
};

// Installs the program-wide screen; nullptr (the default) makes the routines headless:
// messages go to stderr with their caption, ConfirmMessage answers false, the cursor and
// the pump do nothing, no font is installed and OpenDocument does nothing. The screen is
// not owned and must outlive its installation.
void SetScreen(Screen* screen);
Screen* CurrentScreen();

// Yes/No question under the caption "Confirm"; true only when "&Yes" was chosen.
bool ConfirmMessage(const std::string& text);
// "OK" boxes under the captions "Error", "Information" and "Warning".
void ErrorMessage(const std::string& text);
void InfoMessage(const std::string& text);
void WarningMessage(const std::string& text);

// A box with the program's title as its caption, no icon and "OK".
void PlainMessage(const std::string& text);

// The application-wide cursor. Not counted: one NormalCursor undoes any number of
// BusyCursor calls.
void NormalCursor();
void BusyCursor();

// The text with its first "%1" replaced by the value; later "%1"s and any "%1" inside
// the value stay. A text without "%1" comes back unchanged.
std::string ReplaceParam(const std::string& text, const std::string& value);

// Asks the shell to open a document, program or address; failures are not reported.
void OpenDocument(const std::string& target);

// True if a screen font family of that name is installed; ASCII letters compare
// without regard to case, the rest exactly.
bool FontInstalled(const std::string& familyName);

// A text of count blanks; empty for a count of 0 or less.
std::string Spaces(std::int32_t count);

// OpenDocument on kMakerWebSite.
void OpenWebSite();

// The name of this computer, or "LOCAL" when the platform cannot tell.
std::string LocalComputerName();

// The pure part of LocalComputerName: nullopt (the platform call failed) gives "LOCAL";
// otherwise the text up to its first NUL without leading characters of code 32 or less,
// and "LOCAL" when that leaves nothing.
std::string ComputerNameFrom(std::optional<std::string> platformName);

// 0 = other platform or the test failed, 1 = Windows 95 family, 2 = Windows NT. Off
// Windows the answer is 2: the registry stand-in reads other machines' images, so the
// Connect command is offered.
int WindowsPlatform();

// The pure part of WindowsPlatform on Windows: the platform identifier of a successful
// version query mapped to the platform kind.
int PlatformKindFrom(bool callSucceeded, std::uint32_t platformId);

// Lets every queued window message run now, then returns.
void PumpMessages();

}  // namespace orbel
