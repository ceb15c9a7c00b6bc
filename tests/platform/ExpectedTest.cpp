#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "platform/Expected.h"
#include "platform/SystemError.h"

namespace korbu {
namespace {

Expected<std::unique_ptr<int>> MakeOrFail(bool fail) {
  if (fail) return Failure("no room");
  return std::make_unique<int>(7);
}

TEST(Expected, CarriesAMoveOnlyValueOrTheReasonWithItsContext) {
  auto made = MakeOrFail(false);
  ASSERT_TRUE(made);
  EXPECT_EQ(**made, 7);
  EXPECT_EQ(made.Reason(), "");
  std::unique_ptr<int> taken = std::move(made).value();
  EXPECT_EQ(*taken, 7);

  auto failed = MakeOrFail(true);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().Context("cannot make x").reason, "cannot make x: no room");

  Status ok = Ok();
  EXPECT_TRUE(ok);
  Status bad = platform::SystemError(ENOENT);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().code, ENOENT);
  EXPECT_FALSE(bad.Reason().empty());
}

}  // namespace
}  // namespace korbu
