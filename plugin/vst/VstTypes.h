// The VST 2 records, opcodes and flags that pass between a host and the plug-in, laid out
// exactly as 32-bit hosts expect them (checked by the static assertions at the end).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VSTCALLBACK __cdecl
#else
#define VSTCALLBACK
#endif

struct AEffect;

using VstIntPtr = intptr_t;
using VstInt32 = int32_t;

// The host callback and the entries the host calls through the record.
using audioMasterCallback = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                    VstIntPtr value, void* ptr, float opt);
using AEffectDispatcherProcType = VstIntPtr(VSTCALLBACK*)(AEffect* effect, VstInt32 opcode, VstInt32 index,
                                                          VstIntPtr value, void* ptr, float opt);
using AEffectProcessProcType = void(VSTCALLBACK*)(AEffect* effect, float** inputs, float** outputs,
                                                  VstInt32 sampleFrames);
using AEffectProcessDoubleProcType = void(VSTCALLBACK*)(AEffect* effect, double** inputs, double** outputs,
                                                        VstInt32 sampleFrames);
using AEffectSetParameterProcType = void(VSTCALLBACK*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProcType = float(VSTCALLBACK*)(AEffect* effect, VstInt32 index);

// Packs four characters into a 32-bit code, the first in the most significant byte.
constexpr VstInt32 FourCharToLong(char a, char b, char c, char d) {
  return static_cast<VstInt32>((static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
                               (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
                               (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
                               static_cast<uint32_t>(static_cast<uint8_t>(d)));
}

constexpr VstInt32 kEffectMagic = FourCharToLong('V', 's', 't', 'P');

// --- The plug-in record

struct AEffect {
  VstInt32 magic;
  AEffectDispatcherProcType dispatcher;
  AEffectProcessProcType process;
  AEffectSetParameterProcType setParameter;
  AEffectGetParameterProcType getParameter;
  VstInt32 numPrograms;
  VstInt32 numParams;
  VstInt32 numInputs;
  VstInt32 numOutputs;
  VstInt32 flags;
  VstIntPtr resvd1;
  VstIntPtr resvd2;
  VstInt32 initialDelay;
  VstInt32 realQualities;
  VstInt32 offQualities;
  float ioRatio;
  void* object;
  void* user;
  VstInt32 uniqueID;
  VstInt32 version;
  AEffectProcessProcType processReplacing;
  AEffectProcessDoubleProcType processDoubleReplacing;
  char future[56];
};

enum VstAEffectFlags : VstInt32 {
  effFlagsHasEditor = 1,
  effFlagsHasClip = 2,
  effFlagsHasVu = 4,
  effFlagsCanMono = 8,
  effFlagsCanReplacing = 16,
  effFlagsProgramChunks = 32,
  effFlagsIsSynth = 0x100,
  effFlagsNoSoundInStop = 0x200,
  effFlagsExtIsAsync = 0x400,
  effFlagsExtHasBuffer = 0x800,
  effFlagsCanDoubleReplacing = 0x1000,
};

// --- Opcodes the host sends to the plug-in

enum AEffectOpcodes : VstInt32 {
  effOpen = 0, effClose, effSetProgram, effGetProgram, effSetProgramName, effGetProgramName,
  effGetParamLabel, effGetParamDisplay, effGetParamName, effGetVu, effSetSampleRate, effSetBlockSize,
  effMainsChanged, effEditGetRect, effEditOpen, effEditClose, effEditDraw, effEditMouse, effEditKey,
  effEditIdle, effEditTop, effEditSleep, effIdentify, effGetChunk, effSetChunk,
  effProcessEvents = 25, effCanBeAutomated, effString2Parameter, effGetNumProgramCategories,
  effGetProgramNameIndexed, effCopyProgram, effConnectInput, effConnectOutput, effGetInputProperties,
  effGetOutputProperties, effGetPlugCategory, effGetCurrentPosition, effGetDestinationBuffer,
  effOfflineNotify, effOfflinePrepare, effOfflineRun, effProcessVarIo, effSetSpeakerArrangement,
  effSetBlockSizeAndSampleRate, effSetBypass, effGetEffectName, effGetErrorText, effGetVendorString,
  effGetProductString, effGetVendorVersion, effVendorSpecific, effCanDo, effGetTailSize, effIdle,
  effGetIcon, effSetViewPosition, effGetParameterProperties, effKeysRequired, effGetVstVersion,
  effEditKeyDown, effEditKeyUp, effSetEditKnobMode, effGetMidiProgramName, effGetCurrentMidiProgram,
  effGetMidiProgramCategory, effHasMidiProgramsChanged, effGetMidiKeyName, effBeginSetProgram,
  effEndSetProgram, effGetSpeakerArrangement, effShellGetNextPlugin, effStartProcess, effStopProcess,
  effSetTotalSampleToProcess, effSetPanLaw, effBeginLoadBank, effBeginLoadProgram,
  effSetProcessPrecision, effGetNumMidiInputChannels, effGetNumMidiOutputChannels,
};

// --- Opcodes the plug-in sends to the host

enum AudioMasterOpcodes : VstInt32 {
  audioMasterAutomate = 0, audioMasterVersion, audioMasterCurrentId, audioMasterIdle,
  audioMasterPinConnected, audioMasterWantMidi = 6, audioMasterGetTime, audioMasterProcessEvents,
  audioMasterSetTime, audioMasterTempoAt, audioMasterGetNumAutomatableParameters,
  audioMasterGetParameterQuantization, audioMasterIOChanged, audioMasterNeedIdle, audioMasterSizeWindow,
  audioMasterGetSampleRate, audioMasterGetBlockSize, audioMasterGetInputLatency,
  audioMasterGetOutputLatency, audioMasterGetPreviousPlug, audioMasterGetNextPlug,
  audioMasterWillReplaceOrAccumulate, audioMasterGetCurrentProcessLevel, audioMasterGetAutomationState,
  audioMasterOfflineStart, audioMasterOfflineRead, audioMasterOfflineWrite,
  audioMasterOfflineGetCurrentPass, audioMasterOfflineGetCurrentMetaPass, audioMasterSetOutputSampleRate,
  audioMasterGetOutputSpeakerArrangement, audioMasterGetVendorString, audioMasterGetProductString,
  audioMasterGetVendorVersion, audioMasterVendorSpecific, audioMasterSetIcon, audioMasterCanDo,
  audioMasterGetLanguage, audioMasterOpenWindow, audioMasterCloseWindow, audioMasterGetDirectory,
  audioMasterUpdateDisplay, audioMasterBeginEdit, audioMasterEndEdit, audioMasterOpenFileSelector,
  audioMasterCloseFileSelector, audioMasterEditFile, audioMasterGetChunkFile,
  audioMasterGetInputSpeakerArrangement,
};

// --- Events

enum VstEventTypes : VstInt32 { kVstMidiType = 1, kVstSysExType = 6 };

struct VstEvent {
  VstInt32 type;
  VstInt32 byteSize;
  VstInt32 deltaFrames;
  VstInt32 flags;
  char data[16];
};

struct VstMidiEvent {
  VstInt32 type;
  VstInt32 byteSize;
  VstInt32 deltaFrames;
  VstInt32 flags;
  VstInt32 noteLength;
  VstInt32 noteOffset;
  char midiData[4];
  char detune;
  char noteOffVelocity;
  char reserved1;
  char reserved2;
};

// A block of events; hosts allocate it with room for numEvents pointers.
struct VstEvents {
  VstInt32 numEvents;
  VstIntPtr reserved;
  VstEvent* events[2];
};

// --- Time information

struct VstTimeInfo {
  double samplePos;
  double sampleRate;
  double nanoSeconds;
  double ppqPos;
  double tempo;
  double barStartPos;
  double cycleStartPos;
  double cycleEndPos;
  VstInt32 timeSigNumerator;
  VstInt32 timeSigDenominator;
  VstInt32 smpteOffset;
  VstInt32 smpteFrameRate;
  VstInt32 samplesToNextClock;
  VstInt32 flags;
};

enum VstTimeInfoFlags : VstInt32 {
  kVstTransportChanged = 1,
  kVstTransportPlaying = 1 << 1,
  kVstTransportCycleActive = 1 << 2,
  kVstTransportRecording = 1 << 3,
  kVstAutomationWriting = 1 << 6,
  kVstAutomationReading = 1 << 7,
  kVstNanosValid = 1 << 8,
  kVstPpqPosValid = 1 << 9,
  kVstTempoValid = 1 << 10,
  kVstBarsValid = 1 << 11,
  kVstCyclePosValid = 1 << 12,
  kVstTimeSigValid = 1 << 13,
  kVstSmpteValid = 1 << 14,
  kVstClockValid = 1 << 15,
};

// --- Editor, pins, speakers, keys

struct ERect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

enum VstPinPropertiesFlags : VstInt32 { kVstPinIsActive = 1, kVstPinIsStereo = 2, kVstPinUseSpeaker = 4 };

struct VstPinProperties {
  char label[64];
  VstInt32 flags;
  VstInt32 arrangementType;
  char shortLabel[8];
  char future[48];
};

struct VstSpeakerProperties {
  float azimuth;
  float elevation;
  float radius;
  float reserved;
  char name[64];
  VstInt32 type;
  char future[28];
};

struct VstSpeakerArrangement {
  VstInt32 type;
  VstInt32 numChannels;
  VstSpeakerProperties speakers[8];
};

struct VstKeyCode {
  VstInt32 character;
  unsigned char virt;
  unsigned char modifier;
};

// Records passed through untouched by this layer.
struct VstVariableIo;
struct VstParameterProperties;
struct MidiProgramName;
struct MidiProgramCategory;
struct MidiKeyName;

// --- Layout checks for 32-bit hosts

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(AEffect) == 144, "AEffect must be 144 bytes");
static_assert(offsetof(AEffect, flags) == 36);
static_assert(offsetof(AEffect, ioRatio) == 60);
static_assert(offsetof(AEffect, object) == 64);
static_assert(offsetof(AEffect, uniqueID) == 72);
static_assert(offsetof(AEffect, processReplacing) == 80);
static_assert(offsetof(AEffect, future) == 88);
static_assert(sizeof(VstEvents) == 16);
static_assert(sizeof(VstTimeInfo) == 88);
static_assert(offsetof(VstTimeInfo, timeSigNumerator) == 64);
static_assert(offsetof(VstTimeInfo, flags) == 84);
#endif
static_assert(sizeof(VstMidiEvent) == 32, "VstMidiEvent must be 32 bytes");
static_assert(sizeof(VstEvent) == 32);
static_assert(offsetof(VstMidiEvent, midiData) == 24);
static_assert(sizeof(ERect) == 8);
static_assert(sizeof(VstPinProperties) == 128);
static_assert(offsetof(VstPinProperties, shortLabel) == 72);
static_assert(sizeof(VstSpeakerProperties) == 112);
static_assert(sizeof(VstSpeakerArrangement) == 8 + 8 * 112);
