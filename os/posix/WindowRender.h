// The terminal renderer of the in-process window system: draws the visible top-level window's
// caption, its status line and its progress bar, and an open dialog, on a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace os {

enum class WindowKind { kApplication, kForm, kLabel, kProgressBar, kDialog };

// What the renderer needs of one window.
struct RenderedWindow {
  WindowKind kind;
  std::uintptr_t id;
  std::uintptr_t parent;
  bool visible;
  std::u16string text;
  int width;  // pixels; one terminal cell is 8 pixels
  int rangeMin, rangeMax, position;
  std::vector<std::u16string> buttons;
};

class TerminalRenderer {
 public:
  // Disabled, it never draws (the renderer "none").
  TerminalRenderer(bool enabled, int fd) : enabled_(enabled), fd_(fd) {}

  bool Enabled() const { return enabled_; }
  bool Dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }
  // Replaces what was drawn last with the windows' current state.
  void Draw(const std::vector<RenderedWindow>& windows);

  // The screen lines for the windows, each cut to its width.
  static std::vector<std::string> Lines(const std::vector<RenderedWindow>& windows);
  // A label's text as shown: "&x" shows x, "&&" shows one ampersand.
  static std::u16string ShownLabelText(const std::u16string& text);
  // Terminal cells the text takes (wide characters take two).
  static int Columns(const std::u16string& text);

 private:
  bool enabled_;
  int fd_;
  bool dirty_ = true;
  int drawnLines_ = 0;
};

}  // namespace os
