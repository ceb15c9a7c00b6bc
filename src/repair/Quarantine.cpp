#include "repair/Quarantine.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/FileSystemPath.h"
#include "platform/Path.h"
#include "platform/Sha256.h"
#include "repair/Journal.h"

namespace korbu {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMagic = "KORBU-QUARANTINE 1\n";
constexpr int kMaxTempNames = 100;

// XOR is its own inverse: the same call neuters and restores.
std::string Neutered(std::string_view bytes) {
  std::string out(bytes);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ kQuarantineKey[i % sizeof kQuarantineKey]);
  }
  return out;
}

unsigned ModeOf(const std::string& path) {
  std::error_code error;
  const auto status = fs::symlink_status(platform::FileSystemPath(path), error);
  if (error) return 0644;
  return static_cast<unsigned>(status.permissions() & fs::perms::mask);
}

}  // namespace

std::optional<QuarantinedFile> QuarantineFile(const std::string& path, const std::string& itemPath,
                                              std::string_view virusName) {
  const auto info = platform::GetEntryInfo(path);
  if (!info || info->kind != platform::EntryKind::Regular) return std::nullopt;
  const auto content = platform::ReadWholeFile(path, platform::ShareMode::DenyWrite);
  if (!content) return std::nullopt;
  QuarantinedFile file{path, content->size(), platform::Sha256Hex(*content), ModeOf(path)};
  if (file.sha256.empty()) return std::nullopt;
  const nlohmann::json record = {
      {"path", EscapeBytes(path)},        {"size", file.size},
      {"sha256", file.sha256},            {"virus", EscapeBytes(virusName)},
      {"mode", file.mode},                {"modified", info->lastWriteTime},
      {"quarantined", UtcNow()},
  };
  auto item = platform::DurableFile::CreateNew(itemPath);
  if (!item) return std::nullopt;
  const bool written = item->Write(kMagic) && item->Write(record.dump() + "\n") &&
                       item->Write(Neutered(*content)) && item->Sync();
  item.reset();
  if (!written || !platform::SyncFolder(platform::ExtractFilePath(itemPath))) {
    platform::DeleteFile(itemPath);
    return std::nullopt;
  }
  return file;
}

std::optional<QuarantineContent> ReadQuarantined(const std::string& itemPath) {
  const auto bytes = platform::ReadWholeFile(itemPath, platform::ShareMode::DenyNone);
  if (!bytes || bytes->compare(0, kMagic.size(), kMagic) != 0) return std::nullopt;
  const std::size_t end = bytes->find('\n', kMagic.size());
  if (end == std::string::npos) return std::nullopt;
  const auto record = nlohmann::json::parse(bytes->begin() + static_cast<std::ptrdiff_t>(kMagic.size()),
                                            bytes->begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
  if (!record.is_object()) return std::nullopt;
  QuarantineContent item;
  const auto path = UnescapeBytes(record.value("path", ""));
  if (!path || path->empty()) return std::nullopt;
  item.file.path = *path;
  item.file.size = record.value("size", std::uint64_t{0});
  item.file.sha256 = record.value("sha256", "");
  item.file.mode = record.value("mode", 0600u) & 07777u;
  item.content = Neutered(std::string_view(*bytes).substr(end + 1));
  if (item.content.size() != item.file.size || platform::Sha256Hex(item.content) != item.file.sha256) {
    return std::nullopt;
  }
  return item;
}

bool CreateFileAt(const std::string& path, const std::string& content, unsigned mode) {
  if (platform::GetEntryInfo(path)) return false;
  std::string temp;
  std::optional<platform::DurableFile> file;
  for (int n = 1; n <= kMaxTempNames && !file; ++n) {
    temp = path + ".korbu-undo-" + std::to_string(n);
    file = platform::DurableFile::CreateNew(temp);
  }
  if (!file) return false;
  const bool written = file->Write(content) && file->Sync();
  file.reset();
  std::error_code error;
  fs::permissions(platform::FileSystemPath(temp), static_cast<fs::perms>(mode & 07777u), error);
  if (!written || error || !platform::MoveNoReplace(temp, path)) {
    platform::DeleteFile(temp);
    return false;
  }
  platform::SyncFolder(platform::ExtractFilePath(path));
  return true;
}

}  // namespace korbu
