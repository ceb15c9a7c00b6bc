#pragma once
// Shared set-up of the engine tests: which engine library the binding loads, and
// a clean binding and engine set-up after every test.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/LibClamAV.h"
#include "engine/VirusClamAV.h"
#include "fake/FakeEngineRecord.h"
#include "platform/DynamicLibrary.h"

namespace korbu::test {

inline std::string ModuleDir() { return KORBU_TEST_MODULE_DIR; }
inline constexpr char kFakeLibrary[] = "libkorbu-fake-clamav.so";
inline constexpr char kNoDebugLibrary[] = "libkorbu-clamav-nodebug.so";
inline constexpr char kHiddenClamLibrary[] = "libkorbu-clamav-hidden.so";

/// Resets the per-process engine state around each test.
class EngineStateTest : public ::testing::Test {
 protected:
  void TearDown() override {
    VirusEngine.reset();
    ResetEngineLibraryForTests();
  }
};

/// Binds the fake engine library and gives access to its record of calls.
class FakeEngineTest : public EngineStateTest {
 protected:
  void SetUp() override {
    SetEngineLibraryLocationForTests(kFakeLibrary, ModuleDir());
    module_ = platform::DynamicLibrary::Open(ModuleDir() + "/" + kFakeLibrary);
    ASSERT_TRUE(module_.has_value()) << "fake engine library not built";
    auto entry = reinterpret_cast<FakeRecordEntry>(module_->FindEntry("fake_record"));
    ASSERT_NE(entry, nullptr);
    record_ = entry();
    *record_ = FakeEngineRecord{};
  }

  FakeEngineRecord& Record() { return *record_; }

 private:
  std::optional<platform::DynamicLibrary> module_;
  FakeEngineRecord* record_ = nullptr;
};

}  // namespace korbu::test
