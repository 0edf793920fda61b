// The component stream: the reader and writer of the binary component format ("TPF0").
//
// A stream holds the signature "TPF0" and one root component. A component is an optional prefix
// byte (0xF0 | flags, followed by a tagged integer when ffChildPos is set), its class name and
// its name as short strings, its properties (a short-string name, possibly dotted, and a tagged
// value each) ended by vaNull, then its child components ended by vaNull.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Classes.h"
#include "Streams.h"

enum TValueType : uint8_t {
  vaNull, vaList, vaInt8, vaInt16, vaInt32, vaExtended, vaString, vaIdent, vaFalse, vaTrue, vaBinary,
  vaSet, vaLString, vaNil, vaCollection, vaSingle, vaCurrency, vaDate, vaWString, vaInt64, vaUTF8String,
  vaDouble,
};
constexpr uint8_t kLastValueType = vaDouble;

enum TFilerFlag : uint8_t { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

// The 10-byte extended float of the format (x87 layout, little-endian) <-> double.
void DoubleToExtended(double value, uint8_t bytes[10]);
double ExtendedToDouble(const uint8_t bytes[10]);

using TReaderProc = std::function<void(TReader&)>;
using TWriterProc = std::function<void(TWriter&)>;
using TStreamProc = std::function<void(TStream&)>;

// Base of the reader and writer: the stream, the root and the DefineProperties entry points.
class TFiler : public TObject {
 public:
  explicit TFiler(TStream& stream) : stream_(stream) {}
  TStream& Stream() { return stream_; }
  TComponent* Root() const { return root_; }
  void SetRoot(TComponent* root) { root_ = root; }
  // The component whose owned components and published methods names refer to.
  TComponent* LookupRoot() const { return lookupRoot_; }
  TPersistent* Ancestor() const { return ancestor_; }
  void SetAncestor(TPersistent* ancestor) { ancestor_ = ancestor; }
  bool IgnoreChildren = false;

  // A property of the object's own making: the reader calls `readData` when the stream holds a
  // property of that name; the writer calls `writeData` when `hasData`.
  virtual void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                              bool hasData) = 0;
  // As DefineProperty, with the data as a binary value read and written through a stream.
  virtual void DefineBinaryProperty(const std::string& name, const TStreamProc& readData,
                                    const TStreamProc& writeData, bool hasData) = 0;

 protected:
  TStream& stream_;
  TComponent* root_ = nullptr;
  TComponent* lookupRoot_ = nullptr;
  TPersistent* ancestor_ = nullptr;
};

// Reads components and values. Bad data raises EReadError (with the stream offset) or another
// EFilerError (EClassNotFound for an unknown class); it never reads past the stream, never
// allocates more than the stream holds and nests at most kMaxDepth levels.
class TReader : public TFiler {
 public:
  static constexpr int kMaxDepth = 256;

  explicit TReader(TStream& stream) : TFiler(stream) {}

  // --- Values
  TValueType ReadValue();
  TValueType NextValue();  // without consuming it
  bool EndOfList();        // the next value is vaNull (not consumed)
  void CheckValue(TValueType expected);
  void ReadListBegin() { CheckValue(vaList); }
  void ReadListEnd() { CheckValue(vaNull); }
  int32_t ReadInteger();  // vaInt8/16/32, and vaInt64 values that fit
  int64_t ReadInt64();
  bool ReadBoolean();
  char ReadChar();
  WideChar ReadWideChar();
  // Any string value; wide and UTF-8 text is converted to the ANSI code page.
  std::string ReadString();
  // Any string value; ANSI text is converted from the ANSI code page.
  WideString ReadWideString();
  double ReadFloat();  // any float value, or an integer
  float ReadSingle();
  double ReadDouble();
  int64_t ReadCurrency();  // scaled by 10000
  double ReadDate();
  // An identifier; vaFalse, vaTrue, vaNil and vaNull give "False", "True", "nil" and "Null".
  std::string ReadIdent();
  std::string ReadStr();  // a short string (length byte and characters), no tag
  uint32_t ReadSet(const TTypeInfo* setType);
  void SkipValue();
  // Reads exactly `count` bytes; raises EReadError when the stream ends first.
  void Read(void* buffer, int32_t count);
  // Bytes left in the stream; sizes read from the stream are checked against this.
  int64_t Remaining();

  // --- Components
  void ReadSignature();
  void ReadPrefix(uint8_t& flags, int32_t& childPos);
  // The prefix, class name and name that open a component; an empty class name raises
  // EReadError.
  void ReadComponentHeader(uint8_t& flags, int32_t& childPos, std::string& className, std::string& name);
  // Reads a whole stream into `root`, or into a new instance of the stream's class when root is
  // nullptr; calls Loaded on every component read. A failure frees what the reader created.
  TComponent* ReadRootComponent(TComponent* root);
  // Reads one component (its class looked up by name) as a child of Owner/Parent, or into
  // `component` when given.
  TComponent* ReadComponent(TComponent* component);
  // The properties and children of `instance`; the outermost call resolves references after.
  void ReadData(TComponent* instance);
  void ReadProperty(TPersistent* instance);
  void ReadCollection(TCollection* collection);

  TComponent* Owner() const { return owner_; }
  void SetOwner(TComponent* owner) { owner_ = owner; }
  TComponent* Parent() const { return parent_; }
  void SetParent(TComponent* parent) { parent_ = parent; }
  // The (last part of the) name of the property being read; DefineProperty clears it.
  const std::string& PropName() const { return propName_; }

  void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc& writeData,
                            bool hasData) override;

  // Error hook: a handler that sets `handled` makes the reader skip the property in error.
  TMethod<void(TReader*, const std::string& message, bool& handled)> OnError;
  // Method lookup hook for names the root does not publish: set `method`, or clear `error` to
  // leave the event unassigned.
  TMethod<void(TReader*, const std::string& name, TMethodValue& method, bool& error)> OnFindMethod;
  // Class lookup hook, asked before the class registry.
  TMethod<void(TReader*, const std::string& className, const TClassInfo*& cls)> OnFindComponentClass;
  // May change the name given to a component read.
  TMethod<void(TReader*, TComponent* component, std::string& name)> OnSetName;

 protected:
  // Calls OnError; true when the error is to be ignored.
  virtual bool Error(const std::string& message);
  virtual TMethodValue FindMethod(TComponent* root, const std::string& name, const std::type_info* signature);
  const TClassInfo* FindComponentClass(const std::string& className);

 private:
  friend class DepthGuard;
  // A component reference resolved after the stream: the component being read, the steps
  // from it to the object holding the property (property names, "[index]" for collection
  // items), the property and the referenced name. Kept as a path, not a pointer, as objects
  // on the way may be replaced while reading goes on.
  struct Fixup {
    TComponent* component;
    std::vector<std::string> path;
    std::string prop;
    std::string name;
  };
  static TComponent* FindNestedComponent(TComponent* root, const std::string& path);
  [[noreturn]] void FormatError(const std::string& what);
  void ReadPropValue(TPersistent* instance, const TPropInfo* prop);
  void ReadDataInner(TComponent* instance);
  void DoFixupReferences();
  std::string ReadLongBytes(int64_t unit);
  void SkipBytes(int64_t count);
  void Enter();
  void Leave() { --depth_; }

  TComponent* owner_ = nullptr;
  TComponent* parent_ = nullptr;
  std::string propName_;
  bool canHandleExceptions_ = true;
  int depth_ = 0;
  std::vector<Fixup>* fixups_ = nullptr;
  TComponent* context_ = nullptr;
  std::vector<std::string> contextPath_;
  std::vector<TComponent*> loaded_;
};

// Writes components and values.
class TWriter : public TFiler {
 public:
  explicit TWriter(TStream& stream) : TFiler(stream) {}

  // --- Values
  void WriteValue(TValueType value);
  void WriteListBegin() { WriteValue(vaList); }
  void WriteListEnd() { WriteValue(vaNull); }
  // The smallest of vaInt8, vaInt16, vaInt32 and vaInt64 that holds the value.
  void WriteInteger(int64_t value);
  void WriteBoolean(bool value) { WriteValue(value ? vaTrue : vaFalse); }
  void WriteChar(char value) { WriteString(std::string(1, value)); }
  void WriteWideChar(WideChar value) { WriteWideString(WideString(1, value)); }
  // vaString up to 255 bytes, vaLString beyond.
  void WriteString(const std::string& value);
  // As WriteString when every character is ASCII, else vaWString.
  void WriteWideString(const WideString& value);
  void WriteUTF8String(const std::string& value);
  void WriteFloat(double value);  // vaExtended
  void WriteExtended(const uint8_t bytes[10]);
  void WriteSingle(float value);
  void WriteDouble(double value);
  void WriteCurrency(int64_t scaled);
  void WriteDate(double value);
  // vaFalse/vaTrue/vaNil/vaNull for those identifiers (any case), else vaIdent.
  void WriteIdent(const std::string& ident);
  // A short string without tag; raises EWriteError for more than 255 bytes.
  void WriteStr(const std::string& value);
  void WriteSet(const TTypeInfo* setType, uint32_t bits);
  void WriteBinary(const TStreamProc& writeData);
  void WriteCollection(TCollection* collection);
  void Write(const void* buffer, int32_t count);

  // --- Components
  void WriteSignature();
  void WritePrefix(uint8_t flags, int32_t childPos);
  // Writes the signature and `root` with its children.
  void WriteRootComponent(TComponent* root);
  void WriteDescendent(TComponent* root, TComponent* ancestor);
  void WriteComponent(TComponent* component);
  void WriteData(TComponent* instance);
  void WriteProperties(TPersistent* instance);
  void WriteProperty(TPersistent* instance, const TPropInfo* prop);

  void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                      bool hasData) override;
  void DefineBinaryProperty(const std::string& name, const TStreamProc& readData, const TStreamProc& writeData,
                            bool hasData) override;

 private:
  void WritePropName(const std::string& name) { WriteStr(propPath_ + name); }
  std::string ComponentReferenceName(TComponent* value) const;
  std::string propPath_;
  int depth_ = 0;
};

// --- Stream helpers

// Reads a whole component stream from `stream` into `instance` (or a new instance of the
// stream's class when nullptr) and answers it.
TComponent* ReadComponentFromStream(TStream& stream, TComponent* instance);
// Writes `instance` and its children as a component stream.
void WriteComponentToStream(TStream& stream, TComponent* instance);
