// A structured-exception handler frame of the host's own, as a host's guard or crash catcher
// links around its call into a plug-in.
#pragma once

#if defined(_WIN32) && defined(__i386__)
// Linked at the head of the calling thread's handler chain for its lifetime (it lives on the
// stack, as the system requires of a frame).
class THostSehFrame {
 public:
  explicit THostSehFrame(void* handler) : registration_{nullptr, handler} {
    asm volatile("movl %%fs:0, %0" : "=r"(registration_.next));
    asm volatile("movl %0, %%fs:0" : : "r"(&registration_) : "memory");
  }
  ~THostSehFrame() { asm volatile("movl %0, %%fs:0" : : "r"(registration_.next) : "memory"); }
  THostSehFrame(const THostSehFrame&) = delete;
  THostSehFrame& operator=(const THostSehFrame&) = delete;

 private:
  struct {
    void* next;
    void* handler;
  } registration_;
};
#endif
