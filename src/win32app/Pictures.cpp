#include "win32app/Pictures.h"

#include <cstdint>

#include "win32app/Controls.h"

namespace korbu::win32app {
namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p_ != nullptr) p_->Release();
  }
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }

 private:
  T* p_ = nullptr;
};

}  // namespace

HBITMAP LoadPicture(int resource) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resource), reinterpret_cast<LPCWSTR>(RT_RCDATA));
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  const DWORD size = SizeofResource(module, found);
  auto* bytes = static_cast<BYTE*>(LockResource(loaded));
  if (bytes == nullptr || size == 0) return nullptr;

  ComRef<IWICImagingFactory> factory;
  ComRef<IWICStream> stream;
  ComRef<IWICBitmapDecoder> decoder;
  ComRef<IWICBitmapFrameDecode> frame;
  ComRef<IWICBitmapSource> converted;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(factory.Out()))) ||
      FAILED(factory->CreateStream(stream.Out())) ||
      FAILED(stream->InitializeFromMemory(bytes, size)) ||
      FAILED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.Out())) ||
      FAILED(decoder->GetFrame(0, frame.Out())) ||
      FAILED(WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.Get(), converted.Out()))) {
    return nullptr;
  }
  UINT width = 0;
  UINT height = 0;
  if (FAILED(converted->GetSize(&width, &height)) || width == 0 || height == 0 || width > 4096 ||
      height > 4096) {
    return nullptr;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  HBITMAP picture = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (picture == nullptr) return nullptr;
  const UINT stride = width * 4;
  if (FAILED(converted->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(pixels)))) {
    DeleteObject(picture);
    return nullptr;
  }
  return picture;
}

void DrawPicture(HDC dc, HBITMAP picture, int x, int y) {
  if (picture == nullptr) return;
  BITMAP shape{};
  GetObjectW(picture, sizeof shape, &shape);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, picture);
  // At the layout's scale: smoothed on a screen of more than 96 DPI.
  const int width = Scaled(shape.bmWidth);
  const int height = Scaled(shape.bmHeight);
  if (width == shape.bmWidth && height == shape.bmHeight) {
    BitBlt(dc, x, y, width, height, source, 0, 0, SRCCOPY);
  } else {
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchBlt(dc, x, y, width, height, source, 0, 0, shape.bmWidth, shape.bmHeight, SRCCOPY);
  }
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace korbu::win32app
