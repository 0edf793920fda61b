// Tests of the XML byte streams: buffered reading and writing, the encoding codec, the surplus reader.
#include "xml/XmlStreams.h"

#include <gtest/gtest.h>

#include <vector>

#include "TestFiles.h"
#include "xml/XmlPlatform_p.h"
#include "xml/XmlText.h"

namespace {

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// Everything the codec delivers, byte by byte.
std::string ReadAll(TsdCodecStream& codec) {
  std::string out;
  char c;
  while (codec.Read(&c, 1) == 1) out += c;
  return out;
}

std::string Decode(const std::string& bytes, uint8_t* encoding = nullptr) {
  TStringStream source(bytes);
  TsdUtf8Stream codec(&source);
  std::string text = ReadAll(codec);
  if (encoding) *encoding = codec.Encoding();
  return text;
}

std::string Encode(const std::string& utf8, uint8_t encoding) {
  TStringStream target;
  {
    TsdUtf8Stream codec(&target);
    codec.SetEncoding(encoding);
    codec.WriteBuffer(utf8.data(), static_cast<int32_t>(utf8.size()));
  }
  return target.DataString();
}

template <typename F>
std::string StreamErrorOf(F f) {
  try {
    f();
  } catch (const EStreamError& e) {
    return e.Message();
  }
  return "(no error)";
}

}  // namespace

// --- Buffered read stream

TEST(XmlBufferedRead, ReadsAcrossPagesAndSeeksAnywhere) {
  std::string data(3 * kXmlStreamBufferSize + 123, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  TStringStream source(data);
  TsdBufferedReadStream stream(&source, false);
  EXPECT_EQ(stream.GetSize(), static_cast<int64_t>(data.size()));

  std::string all(data.size(), '\0');
  // Odd chunk sizes cross the page boundaries at different offsets.
  size_t done = 0;
  for (int32_t chunk = 1; done < data.size(); chunk = chunk * 3 % 70001 + 1) {
    int32_t n = stream.Read(all.data() + done, std::min<int32_t>(chunk, static_cast<int32_t>(data.size() - done)));
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
  EXPECT_EQ(all, data);
  char c;
  EXPECT_EQ(stream.Read(&c, 1), 0);

  // Seeking records the position; the next read serves it, backwards across a page too.
  for (int64_t pos : {int64_t(5), int64_t(kXmlStreamBufferSize - 1), int64_t(2 * kXmlStreamBufferSize + 9), int64_t(1)}) {
    EXPECT_EQ(stream.Seek(pos, soBeginning), pos);
    ASSERT_EQ(stream.Read(&c, 1), 1);
    EXPECT_EQ(c, data[static_cast<size_t>(pos)]);
  }
  stream.Seek(kXmlStreamBufferSize + 2, soBeginning);
  EXPECT_EQ(stream.Seek(-2, soCurrent), kXmlStreamBufferSize);
  char two[2];
  ASSERT_EQ(stream.Read(two, 2), 2);
  EXPECT_EQ(std::string(two, 2), data.substr(kXmlStreamBufferSize, 2));
  EXPECT_EQ(stream.Seek(-3, soEnd), static_cast<int64_t>(data.size()) - 3);
  ASSERT_EQ(stream.Read(&c, 1), 1);
  EXPECT_EQ(c, data[data.size() - 3]);
  stream.Seek(static_cast<int64_t>(data.size()) + 10, soBeginning);
  EXPECT_EQ(stream.Read(&c, 1), 0);
}

TEST(XmlBufferedRead, RefusesWriting) {
  TStringStream source("abc");
  TsdBufferedReadStream stream(&source, false);
  EXPECT_EQ(StreamErrorOf([&] { stream.Write("x", 1); }), "Cannot write to an UTF stream opened for reading");
}

// --- Buffered write stream

TEST(XmlBufferedWrite, CollectsAndFlushes) {
  TStringStream target;
  std::string data(kXmlStreamBufferSize * 2 + 77, 'q');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  {
    TsdBufferedWriteStream stream(&target, false);
    stream.WriteBuffer(data.data(), 10);
    EXPECT_EQ(target.GetSize(), 0);  // still buffered
    stream.WriteBuffer(data.data() + 10, static_cast<int32_t>(data.size() - 10));
    EXPECT_EQ(target.GetSize(), 2 * kXmlStreamBufferSize);
    EXPECT_EQ(stream.GetPosition(), static_cast<int64_t>(data.size()));
    EXPECT_EQ(stream.Seek(0, soEnd), static_cast<int64_t>(data.size()));
    EXPECT_EQ(stream.Seek(static_cast<int64_t>(data.size()), soBeginning), static_cast<int64_t>(data.size()));
    EXPECT_EQ(StreamErrorOf([&] { stream.Seek(0, soBeginning); }), "Cannot perform seek on codec stream");
    char c;
    EXPECT_EQ(StreamErrorOf([&] { stream.Read(&c, 1); }), "Cannot read from a conversion stream opened for writing");
  }
  EXPECT_EQ(target.DataString(), data);
}

// --- Codec: detection and decoding

TEST(XmlCodec, DetectsByteOrderMarksAndSignatures) {
  uint8_t encoding = 0;
  EXPECT_EQ(Decode("\xEF\xBB\xBF<a>\xC3\xA9</a>", &encoding), "<a>\xC3\xA9</a>");
  EXPECT_EQ(encoding, seUTF8);
  // "<?xm" without a mark: 8-bit text in the code page.
  std::string ansi = "<?xml?><a>\xE9</a>";
  EXPECT_EQ(Decode(ansi, &encoding), "<?xml?><a>" + sdWideToUtf8(XmlAnsiToWide("\xE9")) + "</a>");
  EXPECT_EQ(encoding, seAnsi);
  // Neither mark nor declaration: UTF-8, as XML defines it.
  EXPECT_EQ(Decode("<a>\xC3\xA9</a>", &encoding), "<a>\xC3\xA9</a>");
  EXPECT_EQ(encoding, seUTF8);
  // Files shorter than a signature are not taken for UCS-4.
  EXPECT_EQ(Decode("<", &encoding), "<");
  EXPECT_EQ(encoding, seUTF8);
  EXPECT_EQ(Decode("", &encoding), "");
}

#ifndef _WIN32
TEST(XmlCodec, NativeCodePageIsWindows1252) {
  EXPECT_EQ(Decode("<?xml?>\xE9\x80"), "<?xml?>\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Encode("\xC3\xA9\xE2\x82\xAC\xE4\xB8\x80", seAnsi), "\xE9\x80?");
}
#endif

TEST(XmlCodec, RejectsUnsupportedEncodings) {
  for (const std::string& head : {Bytes({0, 0, 0xFE, 0xFF}), Bytes({0xFF, 0xFE, 0, 0}),
                                  Bytes({0, 0, 0, 0x3C}), Bytes({0x4C, 0x6F, 0xA7, 0x94})}) {
    EXPECT_EQ(StreamErrorOf([&] { Decode(head + "abcd"); }), "Unsupported string encoding");
  }
  EXPECT_EQ(StreamErrorOf([&] { Encode("a", seEBCDIC); }), "Unsupported string encoding");
  EXPECT_EQ(StreamErrorOf([&] { Encode("a", seUCS4LE); }), "Unsupported string encoding");
}

TEST(XmlCodec, Utf16InBothByteOrders) {
  std::string utf8 = "<a>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>";
  std::string le = Bytes({0xFF, 0xFE, '<', 0, 'a', 0, '>', 0, 0xE9, 0, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE,
                          '<', 0, '/', 0, 'a', 0, '>', 0});
  std::string be = Bytes({0xFE, 0xFF, 0, '<', 0, 'a', 0, '>', 0, 0xE9, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00,
                          0, '<', 0, '/', 0, 'a', 0, '>'});
  uint8_t encoding;
  EXPECT_EQ(Decode(le, &encoding), utf8);
  EXPECT_EQ(encoding, seUTF16LE);
  EXPECT_EQ(Decode(be, &encoding), utf8);
  EXPECT_EQ(encoding, seUTF16BE);
  EXPECT_EQ(Encode(utf8, seUTF16LE), le);
  EXPECT_EQ(Encode(utf8, seUTF16BE), be);
  // Without a mark: the 16-bit codes write none, and "<?" in UTF-16 is recognised on reading.
  EXPECT_EQ(Encode(utf8, se16BitLE), le.substr(2));
  EXPECT_EQ(Encode(utf8, se16BitBE), be.substr(2));
  EXPECT_EQ(Decode(Encode("<?xml?><a>\xC3\xA9</a>", se16BitLE), &encoding), "<?xml?><a>\xC3\xA9</a>");
  EXPECT_EQ(encoding, seUTF16LE);
  // A lone surrogate becomes U+FFFD and does not swallow the next character.
  EXPECT_EQ(Decode(Bytes({0xFF, 0xFE, 0x3D, 0xD8, 'x', 0, 0x00, 0xDE, 'y', 0})),
            "\xEF\xBF\xBDx\xEF\xBF\xBDy");
}

TEST(XmlCodec, Utf8IsWrittenWithoutMarkAndMalformedInputIsMarked) {
  EXPECT_EQ(Encode("<a>\xC3\xA9</a>", seUTF8), "<a>\xC3\xA9</a>");
  // A sequence cut short by an ASCII byte, and a stray continuation byte.
  EXPECT_EQ(Encode("\xC3x\x80", se16BitLE), Bytes({0xFD, 0xFF, 'x', 0, 0xFD, 0xFF}));
}

TEST(XmlCodec, ZeroByteEndsTheText) {
  EXPECT_EQ(Decode(std::string("<a>x\0y</a>", 10)), "<a>x");
  EXPECT_EQ(Decode(Bytes({0xFF, 0xFE, 'a', 0, 0, 0, 'b', 0})), "a");
}

TEST(XmlCodec, SeekRules) {
  TStringStream source("ab\xC3\xA9" "cd");
  TsdUtf8Stream codec(&source);
  EXPECT_EQ(StreamErrorOf([&] { codec.Seek(0, soCurrent); }),
            "Cannot seek before reading or writing in conversion stream");
  char c[4];
  EXPECT_EQ(StreamErrorOf([&] { codec.Read(c, 2); }), "Cannot read multiple chars from conversion stream at once");
  ASSERT_EQ(codec.Read(c, 1), 1);  // a
  ASSERT_EQ(codec.Read(c, 1), 1);  // b
  ASSERT_EQ(codec.Read(c, 1), 1);  // first byte of é
  EXPECT_EQ(codec.Seek(0, soCurrent), 4);  // the source stands after the whole character
  EXPECT_EQ(codec.Seek(0, soEnd), 6);
  EXPECT_EQ(codec.Seek(5, soBeginning), 0);
  // Back to where the previous character (b) began: "b", then é again.
  codec.Seek(-2, soCurrent);
  ASSERT_EQ(codec.Read(c, 1), 1);
  EXPECT_EQ(c[0], 'b');
  ASSERT_EQ(codec.Read(c, 1), 1);
  ASSERT_EQ(codec.Read(c + 1, 1), 1);
  EXPECT_EQ(std::string(c, 2), "\xC3\xA9");
  ASSERT_EQ(codec.Read(c, 1), 1);  // c
  codec.Seek(-1, soCurrent);       // back to the start of the current character
  ASSERT_EQ(codec.Read(c, 1), 1);
  EXPECT_EQ(c[0], 'c');
  EXPECT_EQ(StreamErrorOf([&] { codec.Seek(1, soCurrent); }), "Cannot perform seek on codec stream");
  EXPECT_EQ(StreamErrorOf([&] { codec.Write("x", 1); }), "Cannot write to an UTF stream opened for reading");
}

TEST(XmlCodec, RefusesReadingWhileWriting) {
  TStringStream target;
  TsdUtf8Stream codec(&target);
  codec.Write("a", 1);
  char c;
  EXPECT_EQ(StreamErrorOf([&] { codec.Read(&c, 1); }), "Cannot read from a conversion stream opened for writing");
  EXPECT_EQ(codec.Seek(0, soCurrent), 1);
  TsdUtf8Stream unassigned(nullptr);
  EXPECT_EQ(StreamErrorOf([&] { unassigned.Read(&c, 1); }), "Encoding stream unassigned");
}

// A writer that takes nothing: the codec and the buffered stream must report it.
TEST(XmlCodec, ShortWritesRaise) {
  struct FullStream : TStream {
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void*, int32_t) override { return 0; }
    int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
  } full;
  TsdUtf8Stream codec(&full);
  EXPECT_EQ(StreamErrorOf([&] { codec.Write("abc", 3); }), "Cannot write to output stream");
  TsdBufferedWriteStream buffered(&full, false);
  buffered.Write("abc", 3);
  EXPECT_EQ(StreamErrorOf([&] { buffered.Flush(); }), "Cannot write to output stream");
}

// Runs of text decoded at once are what byte-by-byte reading delivers, in every encoding read,
// wherever a run ends: the same text, ending at the same place, with the source left at the same
// position (after the byte or unit 0 that ends the text).
TEST(XmlCodec, RunsOfTextMatchReadingByteByByte) {
  std::string text;
  for (int i = 0; i < 700; ++i) text += "<a i=\"" + std::to_string(i) + "\">x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80</a>";
  const WideString wide = sdUtf8ToWide(text);
  auto utf16 = [](const WideString& units, bool bigEndian) {
    std::string bytes;
    for (char16_t u : units) {
      const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
      bytes += bigEndian ? high : low;
      bytes += bigEndian ? low : high;
    }
    return bytes;
  };
  WideString broken = wide.substr(0, 50);
  broken += u'\xD800';  // a high surrogate without its pair, then a low one alone
  broken += u'x';
  broken += u'\xDC00';
  broken += wide.substr(50, 100);
  const std::string sources[] = {
      text + std::string(1, '\0') + "after",                                     // UTF-8, no mark
      "\xEF\xBB\xBF" + text,                                                     // UTF-8 with its mark
      "<?xml?>" + std::string(3000, 'a') + "\xE9\x80\xFF" + std::string(5000, 'b'),  // 8-bit text
      Bytes({0xFF, 0xFE}) + utf16(wide, false) + std::string(2, '\0') + "zz",     // UTF-16 LE
      Bytes({0xFE, 0xFF}) + utf16(broken, true) + "\x01",                         // UTF-16 BE, odd end
  };
  for (const std::string& bytes : sources) {
    TStringStream byteSource(bytes);
    TsdUtf8Stream byteCodec(&byteSource);
    const std::string expected = ReadAll(byteCodec);
    for (int32_t room : {4, 5, 7, 100, 4096, 65536}) {
      TStringStream plain(bytes);
      TsdBufferedReadStream buffered(&plain, false);
      TsdUtf8Stream codec(&buffered);
      std::string got;
      std::vector<char> out(static_cast<size_t>(room));
      bool ended = false;
      while (!ended) {
        const int32_t n = codec.ReadText(out.data(), room, ended);
        ASSERT_TRUE(n > 0 || ended) << room;
        got.append(out.data(), static_cast<size_t>(n));
      }
      EXPECT_EQ(got, expected) << room;
      EXPECT_EQ(buffered.GetPosition(), byteSource.GetPosition()) << room;
      EXPECT_EQ(codec.Encoding(), byteCodec.Encoding());
    }
  }
}

// --- Surplus reader

TEST(XmlSurplusReader, HandsBackCharactersFirst) {
  TStringStream source("  \r\n\tab");
  TsdSurplusReader reader(&source);
  char c;
  ASSERT_TRUE(reader.ReadCharSkipBlanks(c));
  EXPECT_EQ(c, 'a');
  reader.PushBack("xy");
  std::string got;
  while (reader.ReadChar(c)) got += c;
  EXPECT_EQ(got, "xyb");
  EXPECT_TRUE(reader.AtEnd());
}

TEST(XmlSurplusReader, RunsFromTheBufferReadAsByteByByte) {
  // Two pages and more, with 8-bit bytes and markup, a byte 0 near the end.
  std::string text;
  for (int i = 0; i < 9000; ++i) text += "<a b=\"x\xE9" + std::to_string(i) + "\">t'q</a>\r\n";
  text += std::string("tail", 4) + '\0' + "after";
  bool stops[256] = {};
  stops['"'] = stops['>'] = true;
  for (int source = 0; source < 3; ++source) {
    // Memory, UTF-8 through the codec, 8-bit text through the codec (runs stop before every byte
    // that needs converting; "<?xm" makes the codec take the text for 8-bit).
    const std::string bytes = source == 2 ? "<?xm" + text : text;
    TStringStream memory(bytes), plain(bytes), byteSource(bytes);
    TsdBufferedReadStream buffered(&plain, false), byteBuffered(&byteSource, false);
    TsdUtf8Stream codec(&buffered), byteCodec(&byteBuffered);
    TStream* stream = source == 0 ? static_cast<TStream*>(&memory) : &codec;
    const std::string expected = source == 0 ? text.substr(0, text.find('\0')) : ReadAll(byteCodec);
    std::string got;
    int64_t position = 0, positionAt = 0;
    {
      TsdSurplusReader reader(stream);
      char c;
      for (int step = 0;; ++step) {
        if (step % 3 == 0) {
          if (!reader.ReadUntil('<', got)) break;
          got += '<';
        } else if (step % 3 == 1) {
          if (!reader.ReadUntilAny(stops, got, c)) break;
          got += c;
        } else {
          if (!reader.ReadChar(c)) break;
          got += c;
        }
        if (got.size() >= 70000 && positionAt == 0) {
          position = reader.Position();
          positionAt = static_cast<int64_t>(got.size());
        }
      }
    }
    EXPECT_EQ(got, expected) << source;
    if (source == 0) {
      EXPECT_EQ(position, positionAt);
      EXPECT_EQ(memory.GetPosition(), static_cast<int64_t>(expected.size()) + 1);  // after the 0
    }
  }
}
