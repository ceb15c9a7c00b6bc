// Picks the backend for a record: each kind of system is one sibling folder of
// the platform (wine/, rescue/, win32/), none of which knows the others.
#include "platform/SystemFactory.h"

#include "platform/UnreachableSystem.h"

#ifdef _WIN32
#include "platform/win32/RunningSystem.h"
#else
#include "platform/rescue/VolumeSystem.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WinePrefixSystem.h"
#endif

namespace korbu::platform {

std::string WindowsSystem::SpecialFolderPath(int csidl) const {
  const std::string windowsPath = SpecialFolderWindowsPath(csidl);
  return windowsPath.empty() ? std::string() : NativeFolder(windowsPath);
}

OpenedFile WindowsSystem::OpenFile(const std::string& nativePath) const { return OpenedFile::Open(nativePath); }

Expected<std::shared_ptr<WindowsSystem>> OpenWindowsSystem(const WindowsSystemRef& ref) {
#ifdef _WIN32
  if (ref.kind != WindowsSystemRef::Kind::Default) return Failure("that Windows system cannot be reached from here");
  return std::shared_ptr<WindowsSystem>(std::make_shared<win32::RunningSystem>());
#else
  switch (ref.kind) {
    case WindowsSystemRef::Kind::WindowsVolume:
      return std::shared_ptr<WindowsSystem>(std::make_shared<rescue::VolumeSystem>(ref));
    case WindowsSystemRef::Kind::WinePrefix:
    case WindowsSystemRef::Kind::Default:
      break;
  }
  return std::shared_ptr<WindowsSystem>(wine::OpenPrefixSystem(ref));
#endif
}

std::shared_ptr<WindowsSystem> OpenOrUnreachable(const WindowsSystemRef& ref) {
  auto system = OpenWindowsSystem(ref);
  if (system) return std::move(*system);
  return std::make_shared<UnreachableSystem>(ref, system.error().reason);
}

std::shared_ptr<WindowsSystem> DefaultWindowsSystem() { return OpenOrUnreachable({}); }

std::shared_ptr<WindowsSystem> ResolveSystem(const WindowsSystemRef& ref, const std::shared_ptr<WindowsSystem>& scanned) {
  if (scanned && (ref.kind == WindowsSystemRef::Kind::Default || scanned->Is(ref))) return scanned;
  return OpenOrUnreachable(ref);
}

bool SamePrefixFolder(const std::string& a, const std::string& b) {
#ifdef _WIN32
  (void)a;
  (void)b;
  return false;
#else
  return wine::SamePrefixFolder(a, b);
#endif
}

}  // namespace korbu::platform
