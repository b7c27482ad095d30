#include "tests/support/PlatformScreenshot.h"

#include <windows.h>

#include <fstream>
#include <set>

int ScreenshotStats::Differing(int left, int top, int w, int h) const {
  int n = 0;
  const std::uint32_t background = Pixel(left, top);
  for (int y = top; y < top + h && y < height; ++y)
    for (int x = left; x < left + w && x < width; ++x) n += Pixel(x, y) != background;
  return n;
}

ScreenshotStats CaptureWindowToBmp(os::Window window, const std::filesystem::path& file) {
  ScreenshotStats stats;
  HWND hwnd = static_cast<HWND>(window);
  RECT client;
  if (!GetClientRect(hwnd, &client)) return stats;
  stats.width = client.right;
  stats.height = client.bottom;
  HDC windowDc = GetDC(hwnd);
  HDC memory = CreateCompatibleDC(windowDc);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = stats.width;
  info.bmiHeader.biHeight = -stats.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // The screen's copy holds the children too (the window's own DC clips them away); the window
  // is shown and on top.
  RedrawWindow(hwnd, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  HDC screen = GetDC(nullptr);
  bool drawn = BitBlt(memory, 0, 0, stats.width, stats.height, screen, origin.x, origin.y, SRCCOPY);
  ReleaseDC(nullptr, screen);
  if (!drawn) drawn = PrintWindow(hwnd, memory, PW_CLIENTONLY) != FALSE;
  GdiFlush();
  if (drawn && bits) {
    const auto* p = static_cast<const std::uint32_t*>(bits);
    stats.pixels.assign(p, p + stats.width * stats.height);
    for (std::uint32_t& px : stats.pixels) px &= 0x00FFFFFF;
    stats.distinctColours =
        static_cast<int>(std::set<std::uint32_t>(stats.pixels.begin(), stats.pixels.end()).size());
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(stats.pixels.size() * 4);
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits),
              static_cast<std::streamsize>(stats.pixels.size() * 4));
    stats.captured = static_cast<bool>(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(hwnd, windowDc);
  return stats;
}
