// libjpeg's error, source and destination managers for the class library and the image library.
#include "JpegBinding.h"

#include <cstring>

#include "Graphics.h"

extern "C" {
#include <jerror.h>
}

namespace {

TJPEGErrorManager& ManagerOf(j_common_ptr info) { return *reinterpret_cast<TJPEGErrorManager*>(info->err); }

// libjpeg's frames lie between here and the JPEGTry that set the jump: a C++ exception could not
// pass them, so the error is recorded and the jump taken instead.
void ErrorExit(j_common_ptr info) {
  TJPEGErrorManager& manager = ManagerOf(info);
  manager.Code = info->err->msg_code;
  info->err->format_message(info, manager.Message);
  std::longjmp(manager.Jump, 1);
}

void OutputMessage(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  info->err->format_message(info, text);
  JPEGWarn(ManagerOf(info), text);
}

// Warnings (level -1, mostly damaged data) are counted; only an image's first is shown, as a
// damaged image would otherwise warn once per block. Trace messages are ignored.
void EmitMessage(j_common_ptr info, int level) {
  if (level >= 0) return;
  if (info->err->num_warnings++ == 0) info->err->output_message(info);
}

// --- Memory source

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
  static const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};
  auto* source = reinterpret_cast<TJPEGMemorySource*>(info->src);
  if (!source->EndText || !*source->EndText)
    WARNMS(info, JWRN_JPEG_EOF);
  else if (info->err->num_warnings++ == 0)
    JPEGWarn(ManagerOf(reinterpret_cast<j_common_ptr>(info)), source->EndText);
  info->src->next_input_byte = kEndOfImage;
  info->src->bytes_in_buffer = 2;
  return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
  if (count <= 0) return;
  if (static_cast<size_t>(count) > info->src->bytes_in_buffer) {
    FillInputBuffer(info);
    return;
  }
  info->src->next_input_byte += count;
  info->src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// --- Memory destination

// Appends what libjpeg wrote; out of memory becomes libjpeg's own error, raised outside the catch.
bool Append(TJPEGMemoryDestination& destination, size_t count) {
  try {
    destination.Output->insert(destination.Output->end(), destination.Buffer, destination.Buffer + count);
    return true;
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<TJPEGMemoryDestination*>(info->dest);
  destination->Public.next_output_byte = destination->Buffer;
  destination->Public.free_in_buffer = sizeof destination->Buffer;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  auto* destination = reinterpret_cast<TJPEGMemoryDestination*>(info->dest);
  if (!Append(*destination, sizeof destination->Buffer)) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
  InitDestination(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<TJPEGMemoryDestination*>(info->dest);
  if (!Append(*destination, sizeof destination->Buffer - destination->Public.free_in_buffer))
    ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
}

}  // namespace

// --- Errors

void JPEGUseErrorManager(jpeg_common_struct* info, TJPEGErrorManager& manager, TJPEGWarningProc warning,
                         void* context) {
  info->err = jpeg_std_error(&manager.Public);
  manager.Public.error_exit = ErrorExit;
  manager.Public.output_message = OutputMessage;
  manager.Public.emit_message = EmitMessage;
  manager.Warning = warning;
  manager.WarningContext = context;
}

void JPEGWarn(TJPEGErrorManager& manager, const std::string& text) {
  if (!manager.Warning) return;
  try {
    manager.Warning(manager.WarningContext, text);
  } catch (...) {
    // libjpeg's frames are below: nothing may pass them.
  }
}

bool JPEGTry(TJPEGErrorManager& manager, void (*step)(void* context), void* context) {
  if (setjmp(manager.Jump)) return false;
  step(context);
  return true;
}

void JPEGRaise(const TJPEGErrorManager& manager) {
  throw EInvalidGraphic("JPEG error #" + IntToStr(manager.Code) + ": " + manager.Message);
}

// --- Memory managers

void JPEGMemorySource(jpeg_decompress_struct* info, TJPEGMemorySource& source, const uint8_t* data, size_t size,
                      const char* endText) {
  source.Public.init_source = InitSource;
  source.Public.fill_input_buffer = FillInputBuffer;
  source.Public.skip_input_data = SkipInputData;
  source.Public.resync_to_restart = jpeg_resync_to_restart;
  source.Public.term_source = TermSource;
  source.Public.next_input_byte = data;
  source.Public.bytes_in_buffer = size;
  source.Data = data;
  source.Size = size;
  source.EndText = endText;
  info->src = &source.Public;
}

void JPEGMemoryDestination(jpeg_compress_struct* info, TJPEGMemoryDestination& destination,
                           std::vector<uint8_t>& output) {
  destination.Public.init_destination = InitDestination;
  destination.Public.empty_output_buffer = EmptyOutputBuffer;
  destination.Public.term_destination = TermDestination;
  destination.Output = &output;
  info->dest = &destination.Public;
}
