// The window layer's drag in progress: what the controls' message dispatch asks of it.
#pragma once

#include <windows.h>

class TControl;
class TWinControl;
struct TMessage;

namespace kbl_drag {

// Offers a message of `control`'s window to the drag in progress: the capture window's mouse
// messages and Esc pressed anywhere. Answers true when the drag consumed it.
bool FilterMessage(TWinControl* control, TMessage& message);
// A control is being freed: a drag it is the source of is cancelled, a target forgotten.
void ControlGoing(TControl* control);
// The control of a window made by this module's window layer; nullptr for any other window.
TWinControl* ControlOfWindow(HWND window);
// The innermost control of the layer whose window is under the screen point; nullptr for none.
TWinControl* ControlAtScreenPoint(POINT screen);

}  // namespace kbl_drag
