// Method pointers: an object together with one of its member functions, as the original
// platform's "procedure of object". Two method pointers are equal when they name the same
// member of the same object; an empty one is "unassigned" (nil) and calling it does nothing.
#pragma once

#include <type_traits>
#include <utility>

template <typename Signature>
class TMethod;

template <typename R, typename... Args>
class TMethod<R(Args...)> {
 public:
  using Thunk = R (*)(void*, Args...);

  TMethod() = default;
  TMethod(std::nullptr_t) {}

  // Binds `object`'s member function M: TMethod<void(TObject*)>::Of<&TForm::Click>(form).
  template <auto Member, typename C>
  static TMethod Of(C* object) {
    TMethod method;
    method.object_ = object;
    method.thunk_ = [](void* self, Args... args) -> R {
      return (static_cast<C*>(self)->*Member)(std::forward<Args>(args)...);
    };
    return method;
  }

  // Binds a free function that receives `data` as its first argument.
  static TMethod FromFunction(Thunk function, void* data) {
    TMethod method;
    method.object_ = data;
    method.thunk_ = function;
    return method;
  }

  bool Assigned() const { return thunk_ != nullptr; }
  explicit operator bool() const { return Assigned(); }
  void* Object() const { return object_; }
  Thunk Code() const { return thunk_; }

  // Calls the method; an unassigned one answers R's default value.
  R operator()(Args... args) const {
    if (!thunk_) {
      if constexpr (std::is_void_v<R>) return;
      else return R();
    }
    return thunk_(object_, std::forward<Args>(args)...);
  }

  friend bool operator==(const TMethod& a, const TMethod& b) {
    return a.object_ == b.object_ && a.thunk_ == b.thunk_;
  }

 private:
  void* object_ = nullptr;
  Thunk thunk_ = nullptr;
};

class TObject;
// The common "Sender" notification.
using TNotifyEvent = TMethod<void(TObject*)>;
