// vsthost: a command-line VST 2 host. Loads a plug-in, prints what it reports, and runs a WAV
// file (or a generated test signal) through it into an output WAV.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EditorWindow.h"
#include "VstHost.h"
#include "WavFile.h"

namespace {

const char kUsage[] =
    "usage: vsthost [options] PLUGIN.dll [INPUT.wav] [OUTPUT.wav]\n"
    "  --tone SECONDS        process a generated stereo test signal instead of INPUT\n"
    "  --rate HZ             sample rate of the test signal (default 44100)\n"
    "  --block N             block size in frames (default 512)\n"
    "  --param P=VALUE       set parameter P (index or name) to VALUE (0..1) before processing\n"
    "  --midi F:ST:D1:D2     send a MIDI event at frame F (status and data bytes, 0x.. allowed)\n"
    "  --tempo BPM           host tempo (default 120)\n"
    "  --playing             the host transport runs from the start\n"
    "  --stop-at FRAME       the host transport stops at this frame\n"
    "  --no-time             answer no time information\n"
    "  --save-chunk FILE     write the plug-in's state chunk after processing\n"
    "  --load-chunk FILE     load a state chunk before processing\n"
    "  --format F            output sample format: pcm16, pcm24 or float (default: as input)\n"
    "  --editor SECONDS      open the plug-in's editor for SECONDS (0: until its window is closed)\n"
    "                        while INPUT (or the test signal, or silence) plays in a loop\n"
    "  --screenshot FILE     with --editor: save the editor as FILE (.bmp or .png) before closing\n"
    "  --log                 print every call of the plug-in into the host\n"
    "  --quiet               print no plug-in information\n";

struct Options {
  std::string plugin, input, output;
  double toneSeconds = 0;
  int rate = 44100;
  TProcessOptions process;
  std::vector<std::pair<std::string, float>> params;
  std::string saveChunk, loadChunk, format;
  bool log = false, quiet = false;
  double editorSeconds = -1;  // below 0: no editor
  std::string screenshot;
};

[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "vsthost: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

long ParseNumber(const std::string& text, const char* what) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end) Usage(std::string("bad ") + what + " \"" + text + "\"");
  return value;
}

double ParseReal(const std::string& text, const char* what) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end || !std::isfinite(value)) Usage(std::string("bad ") + what + " \"" + text + "\"");
  return value;
}

Options ParseArguments(int argc, char** argv) {
  Options o;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&](const char* what) -> std::string {
      if (i + 1 >= argc) Usage(std::string(what) + " needs a value");
      return argv[++i];
    };
    if (a == "--tone") o.toneSeconds = ParseReal(next("--tone"), "duration");
    else if (a == "--rate") o.rate = static_cast<int>(ParseNumber(next("--rate"), "rate"));
    else if (a == "--block") o.process.blockSize = static_cast<VstInt32>(ParseNumber(next("--block"), "block size"));
    else if (a == "--param") {
      std::string p = next("--param");
      size_t eq = p.rfind('=');
      if (eq == std::string::npos || eq == 0) Usage("--param wants P=VALUE");
      o.params.emplace_back(p.substr(0, eq), static_cast<float>(ParseReal(p.substr(eq + 1), "parameter value")));
    } else if (a == "--midi") {
      std::string m = next("--midi");
      std::vector<std::string> parts;
      size_t start = 0;
      for (size_t colon; (colon = m.find(':', start)) != std::string::npos; start = colon + 1)
        parts.push_back(m.substr(start, colon - start));
      parts.push_back(m.substr(start));
      if (parts.size() != 4) Usage("--midi wants FRAME:STATUS:DATA1:DATA2");
      VstMidiEvent e{};
      e.type = kVstMidiType;
      e.byteSize = sizeof(VstMidiEvent);
      e.deltaFrames = static_cast<VstInt32>(ParseNumber(parts[0], "MIDI frame"));
      for (int k = 0; k < 3; ++k) e.midiData[k] = static_cast<char>(ParseNumber(parts[k + 1], "MIDI byte"));
      o.process.midi.push_back(e);
    } else if (a == "--tempo") o.process.tempo = ParseReal(next("--tempo"), "tempo");
    else if (a == "--playing") o.process.playing = true;
    else if (a == "--stop-at") o.process.stopAtFrame = ParseNumber(next("--stop-at"), "frame");
    else if (a == "--no-time") o.process.transport = false;
    else if (a == "--save-chunk") o.saveChunk = next("--save-chunk");
    else if (a == "--load-chunk") o.loadChunk = next("--load-chunk");
    else if (a == "--format") o.format = next("--format");
    else if (a == "--editor") o.editorSeconds = ParseReal(next("--editor"), "editor time");
    else if (a == "--screenshot") o.screenshot = next("--screenshot");
    else if (a == "--log") o.log = true;
    else if (a == "--quiet") o.quiet = true;
    else if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (a.size() > 1 && a[0] == '-') Usage("unknown option " + a);
    else positional.push_back(a);
  }
  if (positional.empty()) Usage("no plug-in given");
  if (o.editorSeconds < -0.5 && !o.screenshot.empty()) Usage("--screenshot needs --editor");
  if (o.editorSeconds >= 0 && positional.size() == (o.toneSeconds > 0 ? 2u : 3u))
    Usage("--editor plays its input in a loop and writes no output file");
  o.plugin = positional[0];
  if (o.toneSeconds > 0) {
    if (positional.size() > 2) Usage("too many arguments");
    if (positional.size() == 2) o.output = positional[1];
  } else {
    if (positional.size() > 3) Usage("too many arguments");
    if (positional.size() >= 2) o.input = positional[1];
    if (positional.size() == 3) o.output = positional[2];
    if (!o.input.empty() && o.output.empty()) Usage("an input needs an output file");
  }
  if (o.process.blockSize <= 0 || o.process.blockSize > 65536) Usage("block size must be 1..65536");
  if (o.rate <= 0 || o.rate > 1000000) Usage("sample rate must be 1..1000000");
  if (!o.format.empty() && o.format != "pcm16" && o.format != "pcm24" && o.format != "float")
    Usage("unknown format " + o.format);
  return o;
}

// A test signal: a decaying plucked chord on the left, a sweep on the right.
WavAudio MakeTestSignal(double seconds, int rate) {
  WavAudio audio;
  audio.sampleRate = rate;
  audio.format = WavSampleFormat::Pcm16;
  size_t frames = static_cast<size_t>(seconds * rate);
  audio.channels.assign(2, std::vector<float>(frames));
  const double kPi = 3.14159265358979323846;
  for (size_t i = 0; i < frames; ++i) {
    double t = static_cast<double>(i) / rate;
    double beat = std::fmod(t, 0.5);
    double envelope = std::exp(-beat * 8.0);
    double chord = std::sin(2 * kPi * 220 * t) + 0.6 * std::sin(2 * kPi * 277.18 * t) + 0.5 * std::sin(2 * kPi * 329.63 * t);
    audio.channels[0][i] = static_cast<float>(0.25 * envelope * chord);
    double sweep = 110.0 * std::pow(2.0, 3.0 * t / std::max(seconds, 1e-9));
    audio.channels[1][i] = static_cast<float>(0.3 * envelope * std::sin(2 * kPi * sweep * t));
  }
  return audio;
}

void PrintInfo(TVstHost& host) {
  AEffect* e = host.Effect();
  uint32_t id = static_cast<uint32_t>(e->uniqueID);
  char idText[5] = {static_cast<char>(id >> 24), static_cast<char>(id >> 16), static_cast<char>(id >> 8),
                    static_cast<char>(id), 0};
  VstIntPtr vendorVersion = host.Dispatch(effGetVendorVersion);
  std::string name = host.EffectName();
  if (name.empty()) name = host.ProductString();  // many plug-ins name themselves only by product
  std::printf("Plug-in:    %s\n", name.c_str());
  std::printf("Product:    %s\n", host.ProductString().c_str());
  std::printf("Vendor:     %s\n", host.VendorString().c_str());
  std::printf("Version:    %d (vendor version %ld)\n", e->version, static_cast<long>(vendorVersion));
  std::printf("Unique ID:  '%s' (0x%08X)\n", idText, id);
  std::printf("Channels:   %d in, %d out\n", e->numInputs, e->numOutputs);
  std::printf("Programs:   %d\n", e->numPrograms);
  std::printf("Flags:      0x%X%s%s%s\n", e->flags, (e->flags & effFlagsHasEditor) ? " editor" : "",
              (e->flags & effFlagsCanReplacing) ? " replacing" : "",
              (e->flags & effFlagsProgramChunks) ? " chunks" : "");
  std::printf("Parameters: %d\n", e->numParams);
  for (VstInt32 i = 0; i < e->numParams; ++i) {
    std::printf("  %2d  %-8s  %-9s %-8s = %.3f\n", i, host.ParameterName(i).c_str(), host.ParameterDisplay(i).c_str(),
                host.ParameterLabel(i).c_str(), host.GetParameter(i));
  }
}

std::string ReadWholeFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  if (!file) throw EHostError("cannot open chunk file \"" + name + "\"");
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The editor in a window of its own while audio plays on another thread, as a host shows it.
int RunEditor(TVstHost& host, const Options& o, const WavAudio& input) {
  const double rate = input.channels.empty() ? o.rate : input.sampleRate;
  TEditorWindow editor(host);
  TAudioThread audio(host, input.channels, rate, o.process.blockSize);
  const int32_t milliseconds = o.editorSeconds > 0 ? static_cast<int32_t>(o.editorSeconds * 1000) : INT32_MAX;
  const bool stillOpen = editor.Run(milliseconds);
  if (!o.screenshot.empty()) {
    if (!stillOpen) throw EHostError("the editor window was closed before the screenshot");
    editor.Screenshot().Save(o.screenshot);
    std::printf("Wrote %s: %d x %d\n", o.screenshot.c_str(), editor.Width(), editor.Height());
  }
  audio.Stop();
  editor.Close();
  host.Close();
  return 0;
}

int Run(const Options& o) {
  TVstHost host(o.plugin);
  if (o.log) {
    host.onCall = [](const THostCall& c) {
      std::fprintf(stderr, "host call: opcode %d index %d value %ld opt %g -> %ld\n", c.opcode, c.index,
                   static_cast<long>(c.value), c.opt, static_cast<long>(c.answer));
    };
  }

  WavAudio input;
  bool haveAudio = o.toneSeconds > 0 || !o.input.empty();
  if (o.toneSeconds > 0)
    input = MakeTestSignal(o.toneSeconds, o.rate);
  else if (!o.input.empty())
    input = ReadWav(o.input);

  host.Start(static_cast<float>(haveAudio ? input.sampleRate : o.rate), o.process.blockSize);

  if (!o.loadChunk.empty()) host.SetChunk(ReadWholeFile(o.loadChunk));
  for (const auto& [name, value] : o.params) {
    VstInt32 index = -1;
    char* end = nullptr;
    long asNumber = std::strtol(name.c_str(), &end, 10);
    if (*end == '\0') index = static_cast<VstInt32>(asNumber);
    else index = host.FindParameter(name);
    if (index < 0 || index >= host.Effect()->numParams) throw EHostError("no parameter \"" + name + "\"");
    host.SetParameter(index, value);
  }

  if (!o.quiet) PrintInfo(host);

  if (o.editorSeconds >= 0) return RunEditor(host, o, input);

  if (haveAudio) {
    TProcessOptions process = o.process;
    double seconds = static_cast<double>(input.Frames()) / input.sampleRate;
    int lastShown = -1;
    if (seconds > 10) {
      process.progress = [&lastShown](double fraction) {
        int percent = static_cast<int>(fraction * 100);
        if (percent / 10 != lastShown / 10) {
          std::fprintf(stderr, "\rprocessing: %3d%%", percent);
          lastShown = percent;
        }
      };
    }
    WavAudio output;
    output.sampleRate = input.sampleRate;
    output.format = input.format;
    if (o.format == "pcm16") output.format = WavSampleFormat::Pcm16;
    if (o.format == "pcm24") output.format = WavSampleFormat::Pcm24;
    if (o.format == "float") output.format = WavSampleFormat::Float32;
    output.channels = ProcessThrough(host, input.channels, input.sampleRate, process);
    if (seconds > 10) std::fprintf(stderr, "\rprocessing: 100%%\n");
    if (!o.output.empty()) {
      WriteWav(o.output, output);
      std::printf("Wrote %s: %zu frames, %zu channels, %d Hz\n", o.output.c_str(), output.Frames(),
                  output.channels.size(), output.sampleRate);
    }
    if (!o.process.midi.empty() || !host.receivedMidi.empty())
      std::printf("MIDI: %zu events sent to the plug-in, %zu received from it\n", o.process.midi.size(),
                  host.receivedMidi.size());
  }

  if (!o.saveChunk.empty()) {
    std::string chunk = host.GetChunk();
    std::ofstream file(o.saveChunk, std::ios::binary | std::ios::trunc);
    file.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    if (!file) throw EHostError("cannot write chunk file \"" + o.saveChunk + "\"");
    std::printf("Saved chunk: %zu bytes to %s\n", chunk.size(), o.saveChunk.c_str());
  }
  host.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseArguments(argc, argv);
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vsthost: %s\n", e.what());
    return 1;
  }
}
