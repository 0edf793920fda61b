// Wide-string lists: text form, files and streams (byte-order marks), sorting and searching,
// notifications, conversions with the class library's string list and the "strings" property.
#include "scene/core/vg_widestrings.h"

#include <gtest/gtest.h>

#include <random>

#include "TestFiles.h"
#include "classlib/Filer.h"
#include "classlib/Streams.h"

namespace {

std::vector<WideString> Lines(const TvgWideStrings& list) {
  std::vector<WideString> lines;
  for (int32_t i = 0; i < list.Count(); ++i) lines.push_back(list.Get(i));
  return lines;
}

std::string Bytes(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.GetSize()));
}

struct Counter {
  int changes = 0, changings = 0;
  void Changed(TObject*) { ++changes; }
  void Changing(TObject*) { ++changings; }
  void Attach(TvgWideStringList& list) {
    list.OnChange = TNotifyEvent::Of<&Counter::Changed>(this);
    list.OnChanging = TNotifyEvent::Of<&Counter::Changing>(this);
  }
};

TEST(VgWideStringsText, LinesJoinWithCrLfAndSplitAtEveryBreak) {
  TvgWideStringList list;
  list.Add(u"a");
  list.Add(u"b");
  list.Add(u"c");
  EXPECT_EQ(list.GetTextStr(), u"a\r\nb\r\nc\r\n");
  list.SetTextStr(u"a\rb\r\n\r\nc");
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"a", u"b", u"", u"c"}));
  list.SetTextStr(u"x\ny\u2028z\u2029\vw\f\n");
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"x", u"y", u"z", u"", u"w", u""}));
  list.SetText(u"one\r\n");
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"one"}));
  list.SetText(nullptr);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetTextStr(), u"");
}

TEST(VgWideStringsStreams, SavesLittleEndianWithMark) {
  TvgWideStringList list;
  list.Add(u"x");
  list.Add(u"y");
  TMemoryStream out;
  list.SaveToStream(out);
  EXPECT_EQ(Bytes(out), std::string("\xFF\xFE\x78\x00\x0D\x00\x0A\x00\x79\x00\x0D\x00\x0A\x00", 14));
}

TEST(VgWideStringsStreams, LoadsBothByteOrdersAndAnsi) {
  TvgWideStringList list;
  TStringStream little(std::string("\xFF\xFE\x41\x00\x0A\x00\xAC\x20\x00", 9));  // odd byte dropped
  list.LoadFromStream(little);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"A", u"\u20AC"}));
  // A big-endian mark: the characters are swapped, not read as garbage.
  TStringStream big(std::string("\xFE\xFF\x00\x41\x00\x0A\x20\xAC", 8));
  list.LoadFromStream(big);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"A", u"\u20AC"}));
  TStringStream ansi(std::string("ab\r\n\x80\xE9", 6));
  list.LoadFromStream(ansi);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"ab", u"\u20AC\u00E9"}));
  TStringStream one("z");
  list.LoadFromStream(one);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"z"}));
  TStringStream none("");
  list.LoadFromStream(none);
  EXPECT_EQ(list.Count(), 0);
  // From the stream's position on.
  TStringStream offset(std::string("skip\xFF\xFEq\x00", 8));
  offset.SetPosition(4);
  list.LoadFromStream(offset);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"q"}));
}

TEST(VgWideStringsStreams, FilesRoundTrip) {
  TempDir dir;
  TvgWideStringList list;
  list.SetTextStr(u"first\r\nzweite \u00FC\r\n\u4E2D");
  list.SaveToFile(dir.File("wide.txt"));
  TvgWideStringList back;
  back.LoadFromFile(dir.File("wide.txt"));
  EXPECT_TRUE(back.Equals(list));
  list.SaveToAnsiFile(dir.File("ansi.txt"));
  EXPECT_EQ(ReadFileBytes(dir.File("ansi.txt")), "first\r\nzweite \xFC\r\n?\r\n");
  back.LoadFromFile(dir.File("ansi.txt"));
  EXPECT_EQ(back.Get(1), u"zweite \u00FC");
  EXPECT_THROW(back.LoadFromFile(dir.File("missing.txt")), EFOpenError);
}

TEST(VgWideStringList, SortedAddHonoursDuplicates) {
  TvgWideStringList list;
  list.SetSorted(true);
  EXPECT_EQ(list.Add(u"m"), 0);
  EXPECT_EQ(list.Add(u"b"), 0);
  const int32_t first = list.Add(u"x");
  EXPECT_EQ(list.Add(u"X"), first);  // dupIgnore, compared without case
  EXPECT_EQ(list.Count(), 3);
  list.SetDuplicates(dupAccept);
  list.Add(u"b");
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"b", u"b", u"m", u"x"}));
  list.SetDuplicates(dupError);
  list.Add(u"m");  // reported to the error routine, then inserted
  EXPECT_EQ(list.Count(), 5);
  int32_t index = -1;
  EXPECT_TRUE(list.Find(u"M", index));
  EXPECT_EQ(index, 2);  // leftmost of the run
  list.SetDuplicates(dupAccept);
  EXPECT_TRUE(list.Find(u"m", index));
  EXPECT_EQ(index, 2);  // the search goes on to the left of the run as well
  EXPECT_FALSE(list.Find(u"c", index));
  EXPECT_EQ(index, 2);
  EXPECT_EQ(list.IndexOf(u"zz"), -1);
  // A sorted list refuses positional changes, leaving itself unchanged.
  list.Insert(0, u"a");
  list.Put(0, u"a");
  EXPECT_EQ(list.Get(0), u"b");
}

TEST(VgWideStringList, SortIgnoresCaseAndCanSortByObject) {
  TvgWideStringList list;
  list.SetCaseSensitive(true);
  for (const char16_t* s : {u"C", u"b", u"a", u"\u00E9", u"D", u"\u00C9t"}) list.Add(s);
  list.Sort();
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"a", u"b", u"C", u"D", u"\u00E9", u"\u00C9t"}));
  EXPECT_EQ(list.IndexOf(u"c"), -1);  // case-sensitive search
  std::mt19937 random(1);
  TvgWideStringList big;
  for (int i = 0; i < 500; ++i) big.Add(WideString(1, static_cast<char16_t>(u'a' + random() % 26)) + u"x");
  big.Sort();
  for (int i = 1; i < big.Count(); ++i) EXPECT_LE(vgWideCompareText(big.Get(i - 1), big.Get(i)), 0);
  TObject objects[4];
  TvgWideStringList byObject;
  byObject.SetSortByObject(true);
  for (int i : {2, 0, 3, 1}) byObject.AddObject(u"o" + WideString(1, char16_t(u'0' + i)), &objects[i]);
  byObject.Sort();
  for (int i = 1; i < 4; ++i) EXPECT_GT(byObject.GetObject(i - 1), byObject.GetObject(i));  // largest first
  int32_t index = -1;
  EXPECT_TRUE(byObject.FindObject(&objects[2], index));
  EXPECT_EQ(byObject.GetObject(index), &objects[2]);
}

TEST(VgWideStringList, NotificationsAndBadIndices) {
  TvgWideStringList list;
  Counter counter;
  counter.Attach(list);
  TvgWideStringList other;
  for (const char16_t* s : {u"1", u"2", u"3"}) other.Add(s);
  list.AddStrings(other);
  EXPECT_EQ(counter.changes, 1);  // once for the whole batch
  EXPECT_EQ(counter.changings, 1);
  list.Exchange(0, 2);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"3", u"2", u"1"}));
  list.Move(0, 2);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"2", u"1", u"3"}));
  const int before = counter.changes;
  EXPECT_EQ(list.Get(7), u"");
  EXPECT_EQ(list.GetObject(-1), nullptr);
  list.Delete(3);
  list.Exchange(0, 9);
  list.Put(-1, u"x");
  list.Insert(5, u"x");
  EXPECT_EQ(counter.changes, before);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"2", u"1", u"3"}));
  list.Clear();
  EXPECT_EQ(counter.changes, before + 1);
  list.Clear();
  EXPECT_EQ(counter.changes, before + 1);  // nothing to clear
}

TEST(VgWideStringList, NamesValuesAndAnsiConversions) {
  TvgWideStringList list;
  list.SetTextStr(u"Key=Value\r\nplain\r\nother=x=y");
  EXPECT_EQ(list.IndexOfName(u"KEY"), 0);
  EXPECT_EQ(list.IndexOfValue(u"x=y"), 2);
  EXPECT_EQ(list.Values(u"other"), u"x=y");
  EXPECT_EQ(list.Names(1), u"");
  EXPECT_EQ(list.Values(u"missing"), u"");
  TStringList ansi;
  ansi.Assign(&list);
  EXPECT_EQ(ansi.GetText(), "Key=Value\r\nplain\r\nother=x=y\r\n");
  ansi.Clear();
  ansi.Add("caf\xE9");
  TObject tag;
  ansi.AddObject("obj", &tag);
  list.Assign(&ansi);
  EXPECT_EQ(Lines(list), (std::vector<WideString>{u"caf\u00E9", u"obj"}));
  EXPECT_EQ(list.GetObject(1), &tag);
  TCollection notAList(TCollectionItem::StaticClassInfo());
  EXPECT_THROW(list.Assign(&notAList), EConvertError);
}

// --- "strings"

class TLinesHolder : public TComponent {
  KBL_DECLARE_CLASS(TLinesHolder, TComponent)
 public:
  explicit TLinesHolder(TComponent* owner) : TComponent(owner) {}
  ~TLinesHolder() override { delete lines_; }
  TvgWideStrings* GetLines() const { return lines_; }
  void SetLines(TvgWideStrings* v) { lines_->Assign(v); }

 private:
  TvgWideStringList* lines_ = new TvgWideStringList;
};

KBL_PUBLISHED(TLinesHolder) { KBL_PROP(Lines); }

TEST(VgWideStringsProperty, ByteLayoutAndRoundTrip) {
  TLinesHolder holder(nullptr);
  holder.GetLines()->Add(u"ab");
  holder.GetLines()->Add(u"\u00FC");
  TMemoryStream stream;
  WriteComponentToStream(stream, &holder);
  const std::string bytes = Bytes(stream);
  // Name "Lines.strings", vaList, two vaWString values (count, UTF-16LE), vaNull.
  const std::string expected = std::string("\x0DLines.strings", 14) + '\x01' + std::string("\x12\x02\x00\x00\x00" "a\x00" "b\x00", 9) +
                               std::string("\x12\x01\x00\x00\x00\xFC\x00", 7) + '\x00';
  EXPECT_NE(bytes.find(expected), std::string::npos);
  stream.SetPosition(0);
  TLinesHolder back(nullptr);
  ReadComponentFromStream(stream, &back);
  EXPECT_TRUE(back.GetLines()->Equals(*holder.GetLines()));
  TLinesHolder empty(nullptr);
  TMemoryStream none;
  WriteComponentToStream(none, &empty);
  EXPECT_EQ(Bytes(none).find("strings"), std::string::npos);
  // Damaged data raises the reader's error.
  std::string damaged = bytes;
  damaged[damaged.find(expected) + 15] = '\x30';
  TStringStream bad(damaged);
  TLinesHolder target(nullptr);
  EXPECT_THROW(ReadComponentFromStream(bad, &target), EReadError);
}

}  // namespace
