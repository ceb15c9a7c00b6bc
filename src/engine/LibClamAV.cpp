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
};

Binding& State() {
  static Binding binding;
  return binding;
}

template <typename Entry>
bool Find(const platform::DynamicLibrary& library, const char* name, Entry& entry) {
  // Every entry is cast back to its own type before it is called.
  entry = reinterpret_cast<Entry>(library.FindEntry(name));
  return entry != nullptr;
}

std::optional<platform::DynamicLibrary> OpenLibrary(const Binding& b) {
  std::string folder = b.folder ? *b.folder : platform::ExtractFilePath(platform::ExecutablePath());
  if (!folder.empty()) {
    std::string beside = platform::IncludeTrailingDelimiter(folder) + b.fileName;
    if (platform::FileExists(beside)) {
      if (auto library = platform::DynamicLibrary::Open(beside)) return library;
    }
  }
  return platform::DynamicLibrary::Open(b.fileName);
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
  // Every entry is looked up, even after one is missing.
  bool all = true;
  all &= Find(*library, "clam_scanbuff", e.scanbuff);
  all &= Find(*library, "clam_scanfile", e.scanfile);
  all &= Find(*library, "clam_scandesc", e.scandesc);
  all &= Find(*library, "clam_retflevel", e.retflevel);
  all &= Find(*library, "clam_retver", e.retver);
  all &= Find(*library, "clam_strerror", e.strerror);
  all &= Find(*library, "clam_debug", e.debug);
  all &= Find(*library, "clam_build", e.build);
  all &= Find(*library, "clam_free", e.free);
  all &= Find(*library, "clam_loaddbdir", e.loaddbdir);
  all &= Find(*library, "clam_loaddb", e.loaddb);
  all &= Find(*library, "clam_cvdverify", e.cvdverify);
  if (!all) return false;  // the library is released as it goes out of scope
  library->KeepLoaded();
  b.entries = e;
  b.loaded = true;
  return true;
}

const EngineEntries& EngineLibrary() { return State().entries; }

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
