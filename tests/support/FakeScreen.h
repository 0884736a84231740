// A screen that records every message box and cursor change and answers
// confirmations from a script. Installed for the lifetime of the object.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tools/Vell_Tools.h"

namespace orbel::testing {

class FakeScreen : public Screen {
 public:
  struct Message {
    MessageKind kind;
    std::string caption;
    std::string text;
    bool busyWhileShown;
  };

  FakeScreen() : previous_(CurrentScreen()) { SetScreen(this); }
  ~FakeScreen() override { SetScreen(previous_); }

  bool ShowMessage(MessageKind kind, const std::string& caption,
                   const std::string& text) override {
    messages.push_back({kind, caption, text, busy});
    if (onMessage) onMessage(messages.back());
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void SetCursorBusy(bool value) override { busy = value; }
  void ProcessPendingEvents() override {
    ++pumps;
    if (onPump) onPump();
  }
  std::vector<std::string> FontFamilies() override { return fonts; }
  void OpenWithShell(const std::string& target) override { opened.push_back(target); }

  std::vector<Message> messages;
  std::deque<bool> answers;  // answers to confirmations, in order; false when none left
  bool busy = false;
  int pumps = 0;
  std::function<void()> onPump;
  std::function<void(const Message&)> onMessage;
  std::vector<std::string> fonts;
  std::vector<std::string> opened;

 private:
  Screen* previous_;
};

}  // namespace orbel::testing
