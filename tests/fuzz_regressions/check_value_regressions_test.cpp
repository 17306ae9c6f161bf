// Findings of the CheckValue fuzz target.
#include <chrono>
#include <list>
#include <string>

#include <gtest/gtest.h>

#include <tovri/core/definition.hpp>
#include <tovri/core/value.hpp>

namespace {

using namespace Tovri::Data;

// A value that mismatches its definition at every level of a deep chain:
// rendering each message's position walked the whole chain up to the root,
// so the check took time quadratic in the depth (over a minute at 50k
// levels, five at 100k).
TEST(CheckValueFuzzRegression, MismatchesDeepInADeepValueTakeLinearTime) {
  constexpr int kDepth = 50000;
  auto ref = StructRefDefinition::GetInstance("node");
  auto node = StructDefinition::GetInstance("node", {{"next", OptionalDefinition::GetInstance(ref)},
                                                     {"label", DataDefinition::Create<std::string>()}});
  ref->Bind(node);
  ValuePtr chain = StructValue::GetInstance("node");  // every node lacks "label"
  for (int i = 0; i < kDepth; ++i) {
    auto parent = StructValue::GetInstance("node");
    parent->SetField("next", OptionalValue::GetInstance(std::move(chain)));
    chain = std::move(parent);
  }

  std::list<Tovri::BaseMessage> messages;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CheckValue(*node, chain, messages));
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(messages.size(), static_cast<std::size_t>(kDepth) + 1);
  EXPECT_EQ(messages.front().args.front(), "value");
  EXPECT_EQ(messages.back().args.front().rfind("value...", 0), 0u) << "deep positions stay short";
  EXPECT_LT(elapsed.count(), 20.0) << "seconds";
}

}  // namespace
