// Registration of every control of the maker's library with the scene's class registry, as the
// library's units do at start-up; the editor calls it before loading its form.
#pragma once

// Registers the label, divider, multi-line text, flat button and scroll bar ("Zel Basic
// Controls"), the image button and waveform display ("Zel") and the knobs ("Zel VST Controls").
// Safe to call more than once.
void ZelRegisterControls();
