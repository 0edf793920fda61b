// Notification lists and the transport globals: which listeners hear which change, ignored
// values, and the musical position.
#include "plugin/framework/TGlobals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// Records the order of notifications by name.
struct Recorder {
  std::vector<std::string>* log;
  std::string name;
  TObject* lastSender = nullptr;
  void Heard(TObject* sender) {
    log->push_back(name);
    lastSender = sender;
  }
  TNotifyEvent Method() { return TNotifyEvent::Of<&Recorder::Heard>(this); }
};

}  // namespace

// --- TEventList

TEST(EventList, CallsInOrderAndRemovesTheLastMatch) {
  std::vector<std::string> log;
  Recorder a{&log, "a"}, b{&log, "b"};
  TEventList list;
  list.Add(a.Method());
  list.Add(b.Method());
  list.Add(a.Method());
  TObject sender;
  list.NotifyAll(&sender);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "a"}));
  EXPECT_EQ(a.lastSender, &sender);
  EXPECT_TRUE(list.Remove(a.Method()));
  log.clear();
  list.NotifyAll(nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
  list.Clear();
  EXPECT_FALSE(list.Remove(a.Method()));
  list.NotifyAll(nullptr);
  EXPECT_EQ(log.size(), 2u);
}

TEST(EventList, AListenerMayChangeTheListWhileItIsNotified) {
  struct SelfAdder {
    TEventList* list;
    int calls = 0;
    void Heard(TObject*) {
      if (++calls == 1)
        for (int i = 0; i < 100; ++i) list->Add(TNotifyEvent());  // forces the storage to move
    }
  };
  TEventList list;
  SelfAdder adder{&list};
  list.Add(TNotifyEvent::Of<&SelfAdder::Heard>(&adder));
  list.NotifyAll(nullptr);
  EXPECT_EQ(adder.calls, 1);
  EXPECT_EQ(list.Count(), 101);
}

// --- TGlobals

TEST(Globals, Defaults) {
  TGlobals globals;
  EXPECT_EQ(globals.SampleRate(), 44100);
  EXPECT_EQ(globals.BlockSize(), 512);
  EXPECT_EQ(globals.Tempo(), 120.0f);
  EXPECT_DOUBLE_EQ(globals.InverseSampleRate(), 1.0 / 44100);
  EXPECT_EQ(globals.TimeSigNumerator(), 4);
  EXPECT_EQ(globals.TimeSigDenominator(), 4);
  EXPECT_EQ(globals.PpqPos(), -1.0);
  EXPECT_EQ(globals.BarStartPos(), -1.0);
  EXPECT_FALSE(globals.Playing());
  EXPECT_EQ(globals.TimeInfo(), nullptr);
}

TEST(Globals, SettersIgnoreBadValuesAndNotifyOnGoodOnes) {
  std::vector<std::string> log;
  Recorder rate{&log, "rate"}, block{&log, "block"}, tempo{&log, "tempo"};
  TGlobals globals;
  globals.SampleRateListeners().Add(rate.Method());
  globals.BlockSizeListeners().Add(block.Method());
  globals.TempoListeners().Add(tempo.Method());

  globals.SetSampleRate(0);
  globals.SetSampleRate(-48000);
  globals.SetBlockSize(1);
  globals.SetTempo(0.0f);
  globals.SetTempo(-10.0f);
  globals.SetTempo(NAN);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(globals.SampleRate(), 44100);
  EXPECT_EQ(globals.BlockSize(), 512);
  EXPECT_EQ(globals.Tempo(), 120.0f);

  globals.SetSampleRate(48000);
  globals.SetBlockSize(2);
  globals.SetTempo(90.5f);
  EXPECT_EQ(log, (std::vector<std::string>{"rate", "block", "tempo"}));
  EXPECT_EQ(rate.lastSender, &globals);
  EXPECT_EQ(globals.SampleRate(), 48000);
  EXPECT_DOUBLE_EQ(globals.InverseSampleRate(), 1.0 / 48000);
  EXPECT_EQ(globals.BlockSize(), 2);
  EXPECT_EQ(globals.Tempo(), 90.5f);
}

TEST(Globals, TransportNotifiesPlayingOnlyWhenPlayingChanges) {
  std::vector<std::string> log;
  Recorder transport{&log, "transport"}, playing{&log, "playing"};
  TGlobals globals;
  globals.TransportListeners().Add(transport.Method());
  globals.PlayingListeners().Add(playing.Method());

  globals.SetTransport(false, false, false);
  EXPECT_TRUE(log.empty());
  globals.SetTransport(false, false, true);  // recording only
  EXPECT_EQ(log, (std::vector<std::string>{"transport"}));
  EXPECT_TRUE(globals.Recording());
  log.clear();
  globals.SetTransport(false, true, true);  // cycle only
  EXPECT_EQ(log, (std::vector<std::string>{"transport"}));
  log.clear();
  globals.SetTransport(true, false, false);  // playing first, then transport
  EXPECT_EQ(log, (std::vector<std::string>{"playing", "transport"}));
  EXPECT_TRUE(globals.Playing());
  EXPECT_FALSE(globals.CycleActive());
  EXPECT_FALSE(globals.Recording());
}

TEST(Globals, MusicalPosition) {
  TGlobals globals;
  globals.SetPpqPos(5.0);
  globals.SetBarStartPos(4.0);
  globals.UpdateMusicalPosition();
  EXPECT_DOUBLE_EQ(globals.PositionInBar(), 1.0);
  EXPECT_DOUBLE_EQ(globals.BarLength(), 4.0);
  EXPECT_DOUBLE_EQ(globals.BarFraction(), 0.25);
  EXPECT_DOUBLE_EQ(globals.SamplesToNextBar(), 66150.0);  // 3/4 of a bar of 88200 samples

  globals.SetTimeSignature(6, 8);
  globals.UpdateMusicalPosition();
  EXPECT_DOUBLE_EQ(globals.BarLength(), 3.0);
  EXPECT_DOUBLE_EQ(globals.BarFraction(), 1.0 / 3.0);

  // Samples per bar are single precision: at 44100 Hz and 7/8 at 97 bpm the bar is
  // 3.5 × 44100 × 60 / 97 = 95474.226... samples, which a float holds as 95474.2265625.
  globals.SetTimeSignature(7, 8);
  globals.SetTempo(97.0f);
  globals.SetPpqPos(4.0);
  globals.UpdateMusicalPosition();
  EXPECT_DOUBLE_EQ(globals.SamplesToNextBar(), 95474.2265625);
}

TEST(Globals, ZeroTimeSignatureIsIgnored) {
  TGlobals globals;
  globals.SetTimeSignature(0, 0);
  globals.SetTimeSignature(3, 0);
  globals.SetTimeSignature(0, 4);
  globals.UpdateMusicalPosition();
  EXPECT_EQ(globals.TimeSigNumerator(), 4);
  EXPECT_TRUE(std::isfinite(globals.SamplesToNextBar()));
  EXPECT_TRUE(std::isfinite(globals.BarFraction()));
}
