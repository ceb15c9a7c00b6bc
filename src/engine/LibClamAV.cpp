#include "engine/LibClamAV.h"

#include <mutex>
#include <optional>
#include <utility>

#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace korbu {

#ifdef _WIN32
const char* const kEngineLibraryFileName = "libclamav.dll";
#else
const char* const kEngineLibraryFileName = "libkorbu-clamav.so";
#endif

namespace {

struct Binding {
  std::mutex mutex;
  bool loaded = false;
  EngineEntries entries;
  std::string fileName = kEngineLibraryFileName;
  std::optional<std::string> folder;  // empty: the executable's folder
  std::string problem;
};

Binding& State() {
  static Binding binding;
  return binding;
}

template <typename Entry>
bool Find(const platform::DynamicLibrary& library, const char* name, Entry& entry,
          std::string* missing = nullptr) {
  // Every entry is cast back to its own type before it is called.
  entry = reinterpret_cast<Entry>(library.FindEntry(name));
  if (entry == nullptr && missing != nullptr) *missing += std::string(missing->empty() ? "" : ", ") + name;
  return entry != nullptr;
}

std::optional<platform::DynamicLibrary> OpenLibrary(Binding& b) {
  std::string folder = b.folder ? *b.folder : platform::ExtractFilePath(platform::ExecutablePath());
  std::string beside = platform::IncludeTrailingDelimiter(folder) + b.fileName;
  std::string besideError;
  if (!folder.empty() && platform::FileExists(beside)) {
    if (auto library = platform::DynamicLibrary::Open(beside)) return library;
    besideError = platform::DynamicLibrary::LastOpenError();
  }
  if (auto library = platform::DynamicLibrary::Open(b.fileName)) return library;
  if (!besideError.empty()) {
    b.problem = beside + " does not load: " + besideError;
  } else {
    b.problem = b.fileName + " is neither beside the program";
    if (!folder.empty()) b.problem += " (" + beside + ")";
    b.problem += " nor found by the library search: " + platform::DynamicLibrary::LastOpenError();
  }
  return std::nullopt;
}

void Forget(Binding& b) {
  // A bound library is never unloaded, so its entries held elsewhere stay valid.
  b.loaded = false;
  b.entries = EngineEntries{};
}

}  // namespace

bool LoadEngineLibrary() {
  Binding& b = State();
  std::lock_guard lock(b.mutex);
  if (b.loaded) return true;
  std::optional<platform::DynamicLibrary> library = OpenLibrary(b);
  if (!library) return false;
  EngineEntries e;
  std::string missing;
  // Every entry is looked up, even after one is missing.
  bool all = true;
  all &= Find(*library, "clam_scanbuff", e.scanbuff, &missing);
  all &= Find(*library, "clam_scanfile", e.scanfile, &missing);
  all &= Find(*library, "clam_scandesc", e.scandesc, &missing);
  all &= Find(*library, "clam_retflevel", e.retflevel, &missing);
  all &= Find(*library, "clam_retver", e.retver, &missing);
  all &= Find(*library, "clam_strerror", e.strerror, &missing);
  all &= Find(*library, "clam_debug", e.debug, &missing);
  all &= Find(*library, "clam_build", e.build, &missing);
  all &= Find(*library, "clam_free", e.free, &missing);
  all &= Find(*library, "clam_loaddbdir", e.loaddbdir, &missing);
  all &= Find(*library, "clam_loaddb", e.loaddb, &missing);
  all &= Find(*library, "clam_cvdverify", e.cvdverify, &missing);
  // The library is released as it goes out of scope.
  if (!all) {
    b.problem = b.fileName + " lacks " + missing;
    return false;
  }
  Find(*library, "korbu_engine_problem", e.problem);
  Find(*library, "korbu_clamav_folder", e.clamavFolder);
  Find(*library, "korbu_loaddbdirs", e.loaddbdirs);
  Find(*library, "korbu_loaddbpaths", e.loaddbpaths);
  Find(*library, "korbu_engine_set_tempdir", e.setTempDir);
  Find(*library, "korbu_engine_widen", e.widen);
  Find(*library, "korbu_scandesc_facts", e.scandescFacts);
  const char* complaint = e.problem != nullptr ? e.problem() : nullptr;
  if (complaint != nullptr && *complaint != '\0') {
    b.problem = complaint;
    return false;
  }
  b.problem.clear();
  library->KeepLoaded();
  b.entries = e;
  b.loaded = true;
  return true;
}

const EngineEntries& EngineLibrary() { return State().entries; }

std::string EngineLibraryProblem() {
  Binding& b = State();
  std::lock_guard lock(b.mutex);
  return b.problem;
}

void SetEngineLibraryLocationForTests(const std::string& fileName, const std::string& folder) {
  Binding& b = State();
  std::lock_guard lock(b.mutex);
  Forget(b);
  b.fileName = fileName;
  b.folder = folder;
}

void ResetEngineLibraryForTests() {
  Binding& b = State();
  std::lock_guard lock(b.mutex);
  Forget(b);
  b.fileName = kEngineLibraryFileName;
  b.folder.reset();
}

}  // namespace korbu
