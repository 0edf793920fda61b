// Stands in for a mail client registered for mailto: URLs: writes its first argument to the
// file named by KBL_MAILTO_PROBE_OUT.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* out = std::getenv("KBL_MAILTO_PROBE_OUT");
  if (!out || argc < 2) return 1;
  FILE* file = std::fopen(out, "wb");
  if (!file) return 1;
  std::fputs(argv[1], file);
  std::fclose(file);
  return 0;
}
