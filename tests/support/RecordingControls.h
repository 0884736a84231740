// Recording fakes of the attribute list and its image lists.
#pragma once

#include <string>
#include <vector>

#include "model/Controls.h"

namespace orbel::testing {

class RecordingList : public AttributeList {
 public:
  struct Row {
    std::string caption;
    int image;
    std::string value;
  };
  void BeginUpdate() override { ++depth; }
  void EndUpdate() override { --depth; }
  void DeleteAllRows() override { rows.clear(); }
  void AppendRow(const std::string& caption, int image, const std::string& value) override {
    rows.push_back({caption, image, value});
  }
  void SetFocus() override { focused = true; }
  bool SelectRow(int position) override {
    if (position < 0 || position >= static_cast<int>(rows.size())) return false;
    selected = position;
    return true;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& row : rows) captions.push_back(row.caption);
    return captions;
  }

  std::vector<Row> rows;
  int depth = 0;
  bool focused = false;
  int selected = -1;
};

class RecordingImages : public ImageList {
 public:
  explicit RecordingImages(int fixed = 17) : count(fixed) {}
  int Count() const override { return count; }
  int AppendIcon(std::span<const std::byte> ico) override {
    if (ico.empty()) return -1;
    return count++;
  }
  void Delete(int) override { --count; }
  int count;
};

}  // namespace orbel::testing
