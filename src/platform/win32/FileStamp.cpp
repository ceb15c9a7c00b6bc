#include "platform/FileStamp.h"

#include <io.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

#include <winioctl.h>

namespace korbu::platform {
namespace {

// Windows counts in 100 ns from 1601; the stamps count nanoseconds from 1970.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

std::int64_t Ns(const LARGE_INTEGER& time) { return (time.QuadPart - kEpochDifference) * 100; }

// Attached through a bus made for unplugging, or a disk image: its volume may be
// written elsewhere and come back with its stamps as they were. A drive that does
// not answer the question is judged by its drive type alone.
bool AskDetachableBus(const wchar_t driveLetter) {
  const wchar_t device[] = {L'\\', L'\\', L'.', L'\\', driveLetter, L':', L'\0'};
  HANDLE volume = ::CreateFileW(device, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return false;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  DWORD returned = 0;
  const BOOL answered = ::DeviceIoControl(volume, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                                          sizeof descriptor, &returned, nullptr);
  ::CloseHandle(volume);
  if (!answered || returned < offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType) return false;
  if (descriptor.RemovableMedia) return true;
  switch (descriptor.BusType) {
    case BusTypeUsb:
    case BusType1394:
    case BusTypeSd:
    case BusTypeMmc:
    case BusTypeFileBackedVirtual:
    case BusTypeiScsi:
      return true;
    default:
      return false;
  }
}

// The same, asked once per drive letter and process.
bool OnDetachableBus(const wchar_t driveLetter) {
  static std::atomic<unsigned char> known[26] = {};  // 0: not asked yet, 1: detachable, 2: not
  const wchar_t upper = driveLetter >= L'a' && driveLetter <= L'z' ? static_cast<wchar_t>(driveLetter - L'a' + L'A')
                                                                    : driveLetter;
  if (upper < L'A' || upper > L'Z') return AskDetachableBus(driveLetter);
  std::atomic<unsigned char>& answer = known[static_cast<std::size_t>(upper - L'A')];
  if (answer.load() == 0) answer.store(AskDetachableBus(upper) ? 1 : 2);
  return answer.load() == 1;
}

// NTFS and ReFS on a fixed local disk keep a change time no program can set back,
// and nobody rewrites them behind the system's back: removable and network
// volumes, USB disks and disk images are never trusted.
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
  return ::GetDriveTypeW(root) == DRIVE_FIXED && !OnDetachableBus(path[4]);
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
