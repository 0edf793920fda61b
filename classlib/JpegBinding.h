// The binding of libjpeg to the class library: an error manager that brings libjpeg's fatal
// errors back to the caller (raised as EInvalidGraphic with libjpeg's message) and its warnings
// to a handler, and source and destination managers over memory. Used by TJPEGImage and by the
// image library's TIFF JPEG decoder.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

// Receives the text of a libjpeg warning. It runs inside libjpeg: whatever it raises is dropped.
using TJPEGWarningProc = void (*)(void* context, const std::string& text);

// libjpeg's error manager with the jump back to the running JPEGTry and the last fatal error.
struct TJPEGErrorManager {
  jpeg_error_mgr Public{};  // first: libjpeg sees the manager through this member
  std::jmp_buf Jump;
  int Code = 0;
  char Message[JMSG_LENGTH_MAX] = {};
  TJPEGWarningProc Warning = nullptr;
  void* WarningContext = nullptr;
};

// Makes `manager` the error manager of `info` (call before jpeg_create_compress/decompress):
// fatal errors end the running JPEGTry; the first warning of each image goes to `warning`, when
// given; nothing is ever written to the console.
void JPEGUseErrorManager(jpeg_common_struct* info, TJPEGErrorManager& manager,
                         TJPEGWarningProc warning = nullptr, void* context = nullptr);

// Passes `text` to the manager's warning handler, if any.
void JPEGWarn(TJPEGErrorManager& manager, const std::string& text);

// Runs step(context), which calls libjpeg: true when it returned, false when libjpeg met a fatal
// error (the manager then holds its code and message; the codec may only be aborted or
// destroyed). libjpeg leaves the step by a jump, so the step must own no object that needs its
// destructor run; it may raise C++ exceptions from its own frame.
bool JPEGTry(TJPEGErrorManager& manager, void (*step)(void* context), void* context);

// Raises EInvalidGraphic "JPEG error #<code>: <libjpeg's message>" for the manager's last error.
[[noreturn]] void JPEGRaise(const TJPEGErrorManager& manager);

// A source manager over bytes in memory (which must outlive the decompression). When libjpeg asks
// for more than there is, it warns (with `endText`, or libjpeg's own premature-end text when that
// is empty; counted as the image's warning, so nothing else is shown for it) and supplies an
// end-of-image marker, so that a truncated image ends as if complete.
struct TJPEGMemorySource {
  jpeg_source_mgr Public{};
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  const char* EndText = nullptr;
};
void JPEGMemorySource(jpeg_decompress_struct* info, TJPEGMemorySource& source, const uint8_t* data,
                      size_t size, const char* endText = nullptr);

// A destination manager appending the compressed bytes to `output`.
struct TJPEGMemoryDestination {
  jpeg_destination_mgr Public{};
  std::vector<uint8_t>* Output = nullptr;
  uint8_t Buffer[4096];
};
void JPEGMemoryDestination(jpeg_compress_struct* info, TJPEGMemoryDestination& destination,
                           std::vector<uint8_t>& output);
