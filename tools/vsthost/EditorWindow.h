// The host's side of a plug-in editor: a top-level window of the size the plug-in reports with
// the editor opened inside, a message loop that sends the idle call every 20 ms, audio processed
// in real time on a thread of its own as a host does, and screenshots of the editor. Used by the
// vsthost program (--editor) and by the tests that drive the editor through the real DLL.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "VstHost.h"

// Pixels of a window's client area, 0x00RRGGBB, top row first.
struct TScreenshot {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFFu; }
  // Writes a 24-bit BMP, or a PNG when the name ends in ".png". Raises EHostError.
  void Save(const std::string& fileName) const;
};

// Processes audio through the plug-in on its own thread, one block per block duration, with the
// transport running. The source is looped; without one the input is silence.
class TAudioThread {
 public:
  TAudioThread(TVstHost& host, std::vector<std::vector<float>> source, double sampleRate, VstInt32 blockSize);
  // Stops the thread.
  ~TAudioThread();
  TAudioThread(const TAudioThread&) = delete;
  TAudioThread& operator=(const TAudioThread&) = delete;
  void Stop();
  // Blocks processed so far.
  int64_t Blocks() const { return blocks_.load(); }

 private:
  void Run();
  TVstHost& host_;
  std::vector<std::vector<float>> source_;
  double sampleRate_;
  VstInt32 blockSize_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> blocks_{0};
  std::thread thread_;
};

// An editor opened inside a host window. GUI thread: the thread that made it.
class TEditorWindow {
 public:
  // Asks the plug-in for its rectangle, makes a visible top-level window with that client size
  // and opens the editor in it. Raises EHostError for a plug-in without an editor or one that
  // does not open.
  explicit TEditorWindow(TVstHost& host);
  // Closes the editor and destroys the window (which takes a while under an X server without a
  // window manager: reuse one window for many openings).
  ~TEditorWindow();
  TEditorWindow(const TEditorWindow&) = delete;
  TEditorWindow& operator=(const TEditorWindow&) = delete;

  // Handles messages for `milliseconds`, sending effEditIdle every 20 ms; stops early when the
  // window is closed or `until` answers true. Answers false once the window is closed.
  bool Run(int32_t milliseconds, const std::function<bool()>& until = nullptr);
  // Sends effEditClose (once).
  void Close();
  // Opens the editor again after Close, in the same window, as a host does when the user shows
  // the editor once more. Raises EHostError when the plug-in does not open it.
  void Open();

  void* Window() const { return window_; }
  // The editor's own window inside the host window, or nullptr.
  void* EditorHandle() const;
  // The rectangle the plug-in reported.
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // The client area as it shows now.
  TScreenshot Screenshot() const;

 private:
  TVstHost& host_;
  void* window_ = nullptr;
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool open_ = false;
};
