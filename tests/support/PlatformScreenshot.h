// Windows only: captures a window's client area by drawing it into a bitmap (PrintWindow, or
// the screen's copy), writes it as a BMP file and reports what the picture holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "os/WindowSystem.h"

struct ScreenshotStats {
  bool captured = false;
  int width = 0, height = 0;
  int distinctColours = 0;
  std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top row first

  std::uint32_t Pixel(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
  // Pixels of the rectangle that differ from its top-left pixel (the background).
  int Differing(int left, int top, int w, int h) const;
};

ScreenshotStats CaptureWindowToBmp(os::Window window, const std::filesystem::path& file);
