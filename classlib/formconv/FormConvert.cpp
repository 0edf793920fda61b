// Build tool: converts a form text file (or a binary component stream) into a binary component
// stream, for linking forms into the module as RCDATA resources.
#include <cstdio>
#include <exception>

#include "classlib/FormText.h"
#include "classlib/Streams.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kbl_formconv <form text or binary file> <binary output file>\n");
    return 2;
  }
  try {
    TMemoryStream input;
    input.LoadFromFile(argv[1]);
    TMemoryStream output;
    switch (TestStreamFormat(input)) {
      case sofText: ObjectTextToBinary(input, output); break;
      case sofBinary: output.CopyFrom(input, 0); break;
      default: throw EReadError("not a form text or a component stream");
    }
    // Check that the result reads as a component stream before it goes into the module.
    output.SetPosition(0);
    TStringStream text;
    ObjectBinaryToText(output, text);
    output.SaveToFile(argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
    return 1;
  }
  return 0;
}
