// The least of the class library's font, pen and brush that the XML typed values store: plain
// values, no GDI objects, so that the XML library stays portable.
#pragma once

#include <cstdint>
#include <string>

using TColor = int32_t;

// Font style bits.
enum : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TXmlFont {
  std::string Name = "Arial";
  TColor Color = 0;
  int32_t Size = 14;
  uint8_t Style = 0;  // fsBold | fsItalic | fsUnderline | fsStrikeOut
};

struct TXmlPen {
  TColor Color = 0;
  int32_t Mode = 4;  // the copy mode
  int32_t Style = 0;
  int32_t Width = 1;
};

struct TXmlBrush {
  TColor Color = 0xFFFFFF;
  int32_t Style = 0;
};
