#pragma once
// TClamAV: the signature engine component. Holds the engine's limits and option
// word, loads a signature database into an engine when made active, and scans one
// file at a time.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include <utility>

#include "engine/EngineScanner.h"
#include "engine/LibClamAV.h"
#include "platform/Expected.h"

namespace korbu {

class TClamAV : public EngineScanner {
 public:
  /// Default limits (6, 1000, 1000, 0, 10485760), option word 0, inactive; binds
  /// the engine library (LibraryLoaded tells whether that worked).
  TClamAV();
  /// Releases the engine it holds.
  ~TClamAV() override;
  TClamAV(const TClamAV&) = delete;
  TClamAV& operator=(const TClamAV&) = delete;

  /// The component's name ("ClamAV" for the system's one instance).
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  /// An engine with signatures is built and ready.
  bool Active() const { return active_; }
  /// Setting true (when not active) binds the library, releases a held engine,
  /// loads DBFile, or else DBDir, and builds it: Active becomes true only when the
  /// load gave an engine with at least one signature and its build succeeded.
  /// Setting false keeps the engine.
  void SetActive(bool active);
  /// Makes this, when not active, an engine of the databases of two folders: those
  /// of official loaded as the signature provider's own, then those of local
  /// (either may be empty), built and active. False, LoadError telling why, when
  /// the library has no such entry, or the load or build fails.
  bool ActivateFolders(const std::string& official, const std::string& local);
  /// When the last activation began to read the databases (see platform::NowNs).
  std::int64_t LoadStartedNs() const { return loadStartedNs_; }

  /// One database file to load; takes precedence over DBDir. Takes effect at the
  /// next activation.
  const std::string& DBFile() const { return dbFile_; }
  void SetDBFile(std::string path) { dbFile_ = std::move(path); }
  /// Folders and database files loaded in turn into one engine; take precedence
  /// over DBFile and DBDir. A load error names the path that failed.
  void SetDBPaths(std::vector<std::string> paths) { dbPaths_ = std::move(paths); }
  /// The folder whose databases are loaded when DBFile is empty.
  const std::string& DBDir() const { return dbDir_; }
  void SetDBDir(std::string folder) { dbDir_ = std::move(folder); }

  /// The limits record handed to the library with every scan.
  EngineLimits& Limits() { return limits_; }
  const EngineLimits& Limits() const { return limits_; }

  /// The folder the library makes its temporary files in (empty: its default,
  /// $TMPDIR, else /tmp). Applied to the engine held and to every one built later;
  /// false, LoadError telling why, when the library cannot take it.
  const std::string& TempFolder() const { return tempFolder_; }
  bool SetTempFolder(std::string folder);

  /// What a scan may ask beyond the option word and the limits record: formats
  /// parsed besides (kEngineParse bits) and the most bytes one scan reads in all
  /// (0: the library's default). Applied to the engine held and to every one
  /// built later; false, LoadError telling why, when the library cannot take it.
  struct Widening {
    std::uint32_t parse = 0;
    std::uint64_t maxScanSize = 0;
    bool operator==(const Widening&) const = default;
  };
  const Widening& Widened() const { return widening_; }
  bool SetWidening(Widening widening);

  /// The option word handed to the library with every scan.
  std::uint16_t ScanOptions() const { return scanOptions_; }
  void SetScanOptions(std::uint16_t options) { scanOptions_ = options; }

  /// The engine built from the last load; null when none.
  void* Engine() const { return engine_; }
  /// The engine library was found and bound.
  bool LibraryLoaded() const { return libraryLoaded_; }
  /// The version of the libclamav behind the engine library; empty when unbound.
  std::string LibraryVersion() const;
  /// Signatures reported by the last database load (0 when it failed).
  std::uint32_t SignatureCount() const { return signatureCount_; }
  /// Why the last activation left the engine inactive; empty when it did not.
  const std::string& LoadError() const { return loadError_; }
  /// The verdict of the last Scan; empty means none.
  const std::string& VirusName() const { return last_.virusName; }

  /// True when the library is bound and reports the database file intact and
  /// valid. Does not need Active.
  bool VerifyDatabase(const std::string& path);

  /// The virus name the engine reports for the open file, scanned through its
  /// descriptor; empty when inactive (the library is then not called), clean,
  /// unreadable, not judged whole or failed. Not reentrant.
  std::string Scan(platform::OpenedFile& file);
  /// The same for the file at path, opened once (see OpenedFile).
  std::string Scan(const std::string& path);
  /// Why the last Scan could not read its file; empty when it could.
  const std::string& ReadError() const { return last_.readError; }
  /// The whole verdict of the last Scan.
  const EngineVerdict& LastVerdict() const { return last_; }

  /// What the start-up decided and found for this engine's databases (see
  /// VirusClamAV.h); kept here so that every step speaks of the same folder.
  struct DatabaseSetup {
    std::string chosenFolder;                  // given by the user; empty for the default choice
    std::vector<std::string> chosenPaths;      // given instead: files, or several folders
    std::optional<std::string> decidedFolder;  // decided at its first use
    /// Ok when the last load activated the engine, else why it did not.
    Status loaded = Failure("not set up yet");
  };
  DatabaseSetup& Databases() { return databases_; }
  const DatabaseSetup& Databases() const { return databases_; }

  bool IsActive() const override { return Active(); }
  /// Reentrant: it leaves the last Scan's verdict alone.
  EngineVerdict ScanForVirus(platform::OpenedFile& file) override { return ScanDescriptor(file); }

 private:
  void ReleaseEngine();
  // Builds the engine just loaded (signatureCount_ of them) and sets active_.
  void Build(const EngineEntries& entries, std::int32_t status);
  EngineVerdict ScanDescriptor(platform::OpenedFile& file) const;
  // Hands tempFolder_ to the engine held; false, loadError_ telling why, on failure.
  bool ApplyTempFolder();
  bool ApplyWidening();

  std::string name_;
  bool active_ = false;
  std::string dbFile_;
  std::string dbDir_;
  std::vector<std::string> dbPaths_;
  std::string tempFolder_;
  Widening widening_;
  EngineLimits limits_;
  std::uint16_t scanOptions_ = 0;
  void* engine_ = nullptr;
  EngineEntries engineEntries_;  // the library that made engine_
  bool libraryLoaded_ = false;
  std::uint32_t signatureCount_ = 0;
  std::int64_t loadStartedNs_ = 0;
  EngineVerdict last_;
  std::string loadError_;
  DatabaseSetup databases_;
};

}  // namespace korbu
