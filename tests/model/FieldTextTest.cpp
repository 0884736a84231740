#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "model/FieldText.h"

namespace orbel {
namespace {

using namespace std::string_literals;

// Each text survives making, copying, moving and assigning to itself
// unchanged; only texts other than the empty one, "<Unknown>" and the
// threading models (exactly spelt) take an allocation.
TEST(FieldTextTest, KeepsEveryTextAndAllocatesOnlyForTheUnsharedOnes) {
  const struct {
    std::string text;
    bool owned;
  } cases[] = {
      {"", false},
      {"<Unknown>", false},
      {"Apartment", false},
      {"Both", false},
      {"<unknown>", true},
      {"apartment", true},
      {"x", true},
      {"a\0b"s, true},
      {std::string(70000, 'z'), true},  // a length beyond 16 bits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    FieldText text(c.text);
    EXPECT_EQ(text.view(), c.text);
    EXPECT_EQ(text.size(), c.text.size());
    EXPECT_EQ(text.empty(), c.text.empty());
    EXPECT_EQ(text.Owned(), c.owned);

    FieldText copy = text;
    EXPECT_EQ(copy, text);
    EXPECT_EQ(copy.Owned(), c.owned);
    copy = copy.view().substr(copy.empty() ? 0 : 1);  // assigned from its own characters
    EXPECT_EQ(copy.view(), std::string_view(c.text).substr(c.text.empty() ? 0 : 1));

    FieldText moved = std::move(text);
    EXPECT_EQ(moved.view(), c.text);
    EXPECT_TRUE(text.empty());  // NOLINT(bugprone-use-after-move): a moved-from text is empty
    moved = moved;
    EXPECT_EQ(moved.view(), c.text);
  }
}

TEST(FieldTextTest, ComparesAndJoinsAsItsCharacters) {
  const FieldText a("{A}"), b("{B}");
  EXPECT_LT(a, b);
  EXPECT_EQ(a, "{A}");
  EXPECT_NE(a, std::string("{a}"));
  EXPECT_EQ("CLSID\\" + a + "\\" + b, "CLSID\\{A}\\{B}");
  EXPECT_EQ(FieldText(kUnknown), FieldText(std::string(kUnknown)));
}

}  // namespace
}  // namespace orbel
