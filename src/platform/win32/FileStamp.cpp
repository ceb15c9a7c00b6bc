#include "platform/FileStamp.h"

#include <io.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

// Windows counts in 100 ns from 1601; the stamps count nanoseconds from 1970.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

std::int64_t Ns(const LARGE_INTEGER& time) { return (time.QuadPart - kEpochDifference) * 100; }

// NTFS and ReFS on a local volume keep a change time no program can set back.
bool TrustedVolume(HANDLE file) {
  wchar_t fileSystem[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, fileSystem, MAX_PATH + 1)) {
    return false;
  }
  if (std::wcscmp(fileSystem, L"NTFS") != 0 && std::wcscmp(fileSystem, L"ReFS") != 0) return false;
  // The name whole, however long: only its drive matters.
  const DWORD needed = ::GetFinalPathNameByHandleW(file, nullptr, 0, VOLUME_NAME_DOS);
  if (needed == 0) return false;
  std::wstring path(needed, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), needed, VOLUME_NAME_DOS);
  if (length == 0 || length >= needed) return false;
  path.resize(length);
  // "\\?\C:\..." names its drive; anything else (a network share) is not trusted.
  if (path.size() < 6 || path.compare(0, 4, L"\\\\?\\") != 0 || path[5] != L':') return false;
  const wchar_t root[] = {path[4], L':', L'\\', L'\0'};
  const UINT type = ::GetDriveTypeW(root);
  return type == DRIVE_FIXED || type == DRIVE_REMOVABLE;
}

}  // namespace

Expected<FileStamp> StampOf(OpenedFile& file) {
  const int descriptor = file.Descriptor();
  if (descriptor < 0) return Failure("the file is not open");
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
  if (handle == INVALID_HANDLE_VALUE) return Failure("the file has no handle");
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) return LastSystemError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return LastSystemError();
  FileStamp stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.fileLow = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  FILE_ID_INFO id{};
  if (::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    stamp.volume = id.VolumeSerialNumber;
    std::uint64_t halves[2] = {};
    static_assert(sizeof halves == sizeof id.FileId);
    std::memcpy(halves, &id.FileId, sizeof halves);
    stamp.fileLow = halves[0];
    stamp.fileHigh = halves[1];
  }
  stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modifiedNs = Ns(basic.LastWriteTime);
  stamp.changedNs = Ns(basic.ChangeTime);
  stamp.trusted = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && TrustedVolume(handle);
  return stamp;
}

std::int64_t NowNs() {
  FILETIME now{};
  // The clock the file system stamps files with.
  ::GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER value{};
  value.LowPart = now.dwLowDateTime;
  value.HighPart = static_cast<LONG>(now.dwHighDateTime);
  return Ns(value);
}

}  // namespace korbu::platform
