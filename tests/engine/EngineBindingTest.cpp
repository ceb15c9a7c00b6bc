#include <gtest/gtest.h>

#include <filesystem>

#include "EngineTestSupport.h"
#include "engine/ClamAV.h"
#include "engine/LibClamAV.h"
#include "platform/DynamicLibrary.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
using test::EngineStateTest;
using test::ModuleDir;

using EngineBinding = EngineStateTest;

TEST_F(EngineBinding, MissingLibraryIsNotLoadedAndIsTriedAgain) {
  test::TempTree tree;
  SetEngineLibraryLocationForTests("libkorbu-no-such-engine.so", tree.Path());
  EXPECT_FALSE(LoadEngineLibrary());
  EXPECT_EQ(EngineLibrary().scanfile, nullptr);
  // The reason names where the library was looked for.
  EXPECT_NE(EngineLibraryProblem().find(tree.Path("libkorbu-no-such-engine.so")), std::string::npos)
      << EngineLibraryProblem();
  // The library appears later: the next call finds it, since a failure keeps nothing.
  std::filesystem::copy_file(ModuleDir() + "/" + test::kFakeLibrary,
                             tree.Path("libkorbu-no-such-engine.so"));
  EXPECT_TRUE(LoadEngineLibrary());
  EXPECT_NE(EngineLibrary().scanfile, nullptr);
}

TEST_F(EngineBinding, LibraryLackingOneEntryIsReleased) {
  std::string path = ModuleDir() + "/" + test::kNoDebugLibrary;
  ASSERT_FALSE(platform::DynamicLibrary::IsLoaded(path));
  SetEngineLibraryLocationForTests(test::kNoDebugLibrary, ModuleDir());
  EXPECT_FALSE(LoadEngineLibrary());
  EXPECT_FALSE(platform::DynamicLibrary::IsLoaded(path));
  EXPECT_EQ(EngineLibrary().cvdverify, nullptr);
  EXPECT_FALSE(LoadEngineLibrary());
  EXPECT_NE(EngineLibraryProblem().find("clam_debug"), std::string::npos) << EngineLibraryProblem();
}

TEST_F(EngineBinding, LibclamavHiddenFromTheLoaderMeansNoLibraryAndOwnDetection) {
  // The engine library is there, but the libclamav it looks for is not.
  std::string path = ModuleDir() + "/" + test::kHiddenClamLibrary;
  SetEngineLibraryLocationForTests(test::kHiddenClamLibrary, ModuleDir());
  EXPECT_FALSE(LoadEngineLibrary());
  EXPECT_FALSE(platform::DynamicLibrary::IsLoaded(path));
  EXPECT_NE(EngineLibraryProblem().find("libkorbu-no-such-clamav.so.12"), std::string::npos)
      << EngineLibraryProblem();

  test::TempTree tree;
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, tree.Path());
  EXPECT_FALSE(EngineLibraryAvailable());
  EXPECT_FALSE(LoadVirusDatabase());
  EngineInfo info = GetEngineInfo(*VirusEngine);
  EXPECT_FALSE(info.active);
  EXPECT_NE(info.loaded.Reason().find("no engine library"), std::string::npos) << info.loaded.Reason();
  EXPECT_NE(info.loaded.Reason().find(tree.Path()), std::string::npos) << info.loaded.Reason();
}

TEST_F(EngineBinding, RealLibraryBesideTheExecutableBindsAllEntries) {
  ASSERT_TRUE(LoadEngineLibrary()) << "the engine library should sit beside the test program";
  const EngineEntries& e = EngineLibrary();
  for (auto entry : {e.scanbuff, e.debug}) {
    EXPECT_NE(entry, nullptr);
  }
  EXPECT_NE(e.retflevel, nullptr);
  ASSERT_NE(e.retver, nullptr);
  EXPECT_EQ(std::string(e.retver()).rfind("1.", 0), 0u) << e.retver();
  EXPECT_EQ(EngineLibraryProblem(), "");
  EXPECT_NE(e.scanfile, nullptr);
  EXPECT_NE(e.scandesc, nullptr);
  EXPECT_NE(e.strerror, nullptr);
  EXPECT_NE(e.build, nullptr);
  EXPECT_NE(e.free, nullptr);
  EXPECT_NE(e.loaddbdir, nullptr);
  EXPECT_NE(e.loaddb, nullptr);
  EXPECT_NE(e.cvdverify, nullptr);
  // Bound for good: a second call keeps the same entries.
  auto scanfile = e.scanfile;
  EXPECT_TRUE(LoadEngineLibrary());
  EXPECT_EQ(EngineLibrary().scanfile, scanfile);
}

TEST_F(EngineBinding, ComponentWithoutLibraryStaysUnbound) {
  test::TempTree tree;
  SetEngineLibraryLocationForTests("libkorbu-no-such-engine.so", tree.Path());
  TClamAV engine;
  EXPECT_FALSE(engine.LibraryLoaded());
  engine.SetDBDir(tree.Path());
  engine.SetActive(true);
  EXPECT_FALSE(engine.Active());
  EXPECT_FALSE(engine.VerifyDatabase(tree.Write("main.cvd", "x")));
  EXPECT_EQ(engine.Scan(tree.Write("f", "NAME:Anything")), "");
}

}  // namespace
}  // namespace korbu
