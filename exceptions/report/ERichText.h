// Rich-text rendering of report texts for the detailed dialog's general, assembler and CPU pages:
// the plain texts turned into RTF coloured by line kind, and the streaming of RTF into a
// rich-edit control.
#pragma once

#include <cstdint>
#include <string>

// The font the document names: its character set, the face (the dialogs' first fixed font) and
// the dialog font size in points.
struct TEmberRTFFont {
  int32_t Charset = 0;
  std::string Face = "Lucida Console";
  int32_t Size = 8;
};

// "\" -> "\\", "{" -> "\{", "}" -> "\}", CR LF -> "\par" CR LF.
std::string EscapeRTF(const std::string& text);

// Report head (banner, section titles, dash lines, numbered field lines): banner teal and bold,
// titles and dashes dark grey, field numbers dark red, names black, values dark blue. Bytes from
// 128 on and control characters other than CR and LF are written as \'hh, so that no text of the
// report can change the document's structure.
std::string RenderReportHeadRTF(const std::string& text, const TEmberRTFFont& font);
// Assembler listing: addresses dark red, mnemonics bold dark blue, operands dark green, comments
// grey.
std::string RenderAssemblerRTF(const std::string& text, const TEmberRTFFont& font);
// CPU section: register values dark blue, the stack and memory dump in two columns with a tab
// stop at `tabStop` twips.
std::string RenderCPURTF(const std::string& text, const TEmberRTFFont& font, int32_t tabStop);

// --- Win32 only (win32/ERichText.cpp)

// Replaces the content of a rich-edit control by the RTF document (EM_STREAMIN, SF_RTF). False
// when the control took nothing.
bool StreamRTFIntoRichEdit(uintptr_t control, const std::string& rtf);
// EM_SETBKGNDCOLOR; a negative colour is a system colour index (its low byte).
void SetRichEditBackground(uintptr_t control, int32_t colour);
