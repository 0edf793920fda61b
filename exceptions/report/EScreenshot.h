// The screenshot of a bug report: capture of the active window or of the area of the process's
// windows (with the focused window framed in red and the cursor drawn in), reduced to 256
// colours by octree quantisation and written as an 8-bit indexed PNG through zlib's deflate.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TStream;

// --- Checksum

// Continues a CRC-32 (reflected, polynomial 0xEDB88320) over `length` bytes with the library's
// own table; PNG chunks start at 0xFFFFFFFF and invert the result. A null buffer or a length of
// 0 or less leaves `crc` as it is.
uint32_t Crc32Update(uint32_t crc, const void* buffer, int32_t length);

// --- Octree colour reduction

// Collects colours into an octree of at most 256 leaves, merging the deepest nodes first when
// there are more. Not thread-safe.
class TOctreeQuantizer {
 public:
  TOctreeQuantizer();
  ~TOctreeQuantizer();
  TOctreeQuantizer(const TOctreeQuantizer&) = delete;
  TOctreeQuantizer& operator=(const TOctreeQuantizer&) = delete;

  void AddColor(uint8_t red, uint8_t green, uint8_t blue);
  int32_t LeafCount() const { return leafCount_; }
  // The leaves depth first in child order, each the average of its colours, as 0x00RRGGBB; also
  // numbers the leaves for IndexOf. At most 256 entries.
  std::vector<uint32_t> BuildPalette();
  // The palette index of a colour that was added (the leaf its path ends in); 0 for a colour
  // whose path was never added. BuildPalette must have run.
  uint8_t IndexOf(uint8_t red, uint8_t green, uint8_t blue) const;

  struct Node;

 private:
  void Reduce();
  std::unique_ptr<Node> root_;
  int32_t leafCount_ = 0;
  std::array<std::vector<Node*>, 8> reducible_;
};

// --- PNG

// An image reduced to a palette: `width` indices per row, rows from the top; palette entries as
// 0x00RRGGBB (missing entries are written black).
struct TIndexedImage {
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint8_t> Indices;
  std::vector<uint32_t> Palette;
};

// Reduces 24-bit RGB pixels (3 bytes per pixel, rows from the top, no padding) to 256 colours.
// A size below 1 is taken as 1 (a missing pixel is black).
TIndexedImage QuantizeRgb(const uint8_t* rgb, int32_t width, int32_t height);

// Writes the image as PNG: IHDR (8-bit, colour type 3), PLTE with 256 entries, the rows
// (filter 0) deflated at level 9 into IDAT chunks of 262143 bytes and a last shorter one, IEND.
// Raises EWriteError when the stream cannot take the data.
void EncodeIndexedPNG(TStream& stream, const TIndexedImage& image);

// --- Capture (Windows; elsewhere these do nothing and there is no capture)

// The window that had the keyboard focus and the cursor when the exception was taken (window
// and cursor handles); recorded by the exception hooks, read by TakeScreenshot.
void RecordScreenshotFocus(uintptr_t focusWindow, uintptr_t cursor);

// Captures the screen as the options in force ask (SendOptions bit 0x20: the foreground window
// only; else the area of this process's windows widened to whole monitors). One capture at a
// time; a new one replaces the old.
void TakeScreenshot();
// True while a capture is held.
bool HasScreenshot();
// Releases the capture.
void FreeScreenshot();
// The capture as RGB pixels (rows from the top); false without a capture.
bool GetScreenshotRgb(int32_t& width, int32_t& height, std::vector<uint8_t>& rgb);
// The capture as PNG; nothing without a capture.
void EncodeScreenshotPNG(TStream& stream);
// Saves the capture as PNG; an empty name does nothing and every failure is swallowed (the
// file is then missing).
void SaveScreenshotPNG(const std::string& fileName);
