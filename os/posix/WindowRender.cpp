#include "os/posix/WindowRender.h"

#include <unistd.h>

#include <algorithm>

namespace os {
namespace {

bool IsWide(char16_t c) { return c >= 0x1100 && !(c >= 0xD800 && c <= 0xDFFF); }

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The text cut so that it fits the columns; control characters become spaces.
std::u16string Cut(const std::u16string& text, int columns) {
  std::u16string out;
  int used = 0;
  for (char16_t c : text) {
    if (c == u'\r' || c == u'\n') break;
    const int w = IsWide(c) ? 2 : 1;
    if (used + w > columns) break;
    out += c < 0x20 ? u' ' : c;
    used += w;
  }
  return out;
}

}  // namespace

std::u16string TerminalRenderer::ShownLabelText(const std::u16string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'&' && i + 1 < text.size())
      ++i;
    else if (text[i] == u'&')
      continue;
    out += text[i];
  }
  return out;
}

int TerminalRenderer::Columns(const std::u16string& text) {
  int columns = 0;
  for (char16_t c : text) columns += IsWide(c) ? 2 : 1;
  return columns;
}

std::vector<std::string> TerminalRenderer::Lines(const std::vector<RenderedWindow>& windows) {
  std::vector<std::string> lines;
  for (const RenderedWindow& form : windows) {
    if (form.kind != WindowKind::kForm || !form.visible) continue;
    lines.push_back("== " + Utf8(form.text) + " ==");
    for (const RenderedWindow& child : windows) {
      if (child.parent != form.id || !child.visible) continue;
      const int columns = std::max(1, child.width / 8);
      if (child.kind == WindowKind::kLabel) {
        lines.push_back(Utf8(Cut(ShownLabelText(child.text), columns)));
      } else if (child.kind == WindowKind::kProgressBar) {
        const int bar = std::max(1, columns - 2);
        const long long span = static_cast<long long>(child.rangeMax) - child.rangeMin;
        long long done =
            span > 0 ? (static_cast<long long>(child.position) - child.rangeMin) * bar / span : 0;
        done = std::clamp<long long>(done, 0, bar);
        std::string line = "[";
        line.append(static_cast<size_t>(done), '#');
        line.append(static_cast<size_t>(bar - done), '.');
        line += ']';
        lines.push_back(std::move(line));
      }
    }
  }
  for (const RenderedWindow& dialog : windows) {
    if (dialog.kind != WindowKind::kDialog) continue;
    std::string line = Utf8(dialog.text);
    for (const std::u16string& b : dialog.buttons) line += "  [" + Utf8(b) + "]";
    lines.push_back(line);
  }
  return lines;
}

void TerminalRenderer::Draw(const std::vector<RenderedWindow>& windows) {
  dirty_ = false;
  if (!enabled_) return;
  std::string out;
  // Back to the first line drawn last time, then clear everything below.
  if (drawnLines_ > 0) out += "\033[" + std::to_string(drawnLines_) + "F";
  out += "\033[J";
  const std::vector<std::string> lines = Lines(windows);
  for (const std::string& line : lines) out += line + "\n";
  drawnLines_ = static_cast<int>(lines.size());
  for (size_t written = 0; written < out.size();) {
    const ssize_t n = write(fd_, out.data() + written, out.size() - written);
    if (n <= 0) return;
    written += static_cast<size_t>(n);
  }
}

}  // namespace os
