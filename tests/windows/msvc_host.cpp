// A host as the Microsoft C++ compiler builds one, for ncdrill.dll: compiled
// by clang for the Microsoft ABI (i686-pc-windows-msvc or
// x86_64-pc-windows-msvc) against the project's own header, without a C++
// runtime, linked with lld-link against kernel32 and msvcrt only. `delete p`,
// `p->~Interpreter()` and `p->InterpretBlock(...)` compile here exactly as in
// such a host: through slot 0 (the scalar deleting destructor, with flags 1
// and 0) and slot 1 of the Microsoft virtual table, thiscall on win32.
//
//   ncdrill_msvc_host PATH-OF-ncdrill.dll
//
// Copies the DLL into scratch folders beside its tables, loads it there and
// checks every rule of the Windows boundary. Prints one line per failed
// check and ends with "N passed, N failed"; exit status 0 when all passed.
#include "ncdrill/ncdrill.h"
#include "win32.h"

extern "C" int _fltused = 0;  // the Microsoft ABI's marker of floating-point use

namespace {

constexpr size_t kWord = sizeof(void*);
constexpr size_t kMaxPath = 512;  // small frames: this program has no stack probes
constexpr int kMaxItems = 64;

// Each test keeps its own stack frame: inlined into one, their locals would
// need the stack probes of a runtime this program does not have.
#define NCDRILL_OWN_FRAME __declspec(noinline)

// --- output and checks ------------------------------------------------------

char g_line[4096];
char g_scratch[4096];
int g_passed = 0;
int g_failed = 0;
const char* g_test = "";

void Print(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int size = _vsnprintf(g_line, sizeof g_line - 1, format, arguments);
  va_end(arguments);
  DWORD written = 0;
  WriteFile(GetStdHandle(kStdOutputHandle), g_line,
            size < 0 ? static_cast<DWORD>(sizeof g_line - 1) : static_cast<DWORD>(size), &written,
            nullptr);
}

bool Check(bool ok, const char* what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    Print("FAILED %s: %s\n", g_test, what);
  }
  return ok;
}

bool CheckInt(long long got, long long want, const char* what) {
  if (got == want) return Check(true, what);
  Print("  %s: got %lld, want %lld\n", what, got, want);
  return Check(false, what);
}

bool CheckText(const char* got, const char* want, const char* what) {
  if (strcmp(got, want) == 0) return Check(true, what);
  Print("  %s:\n    got  \"%s\"\n    want \"%s\"\n", what, got, want);
  return Check(false, what);
}

// Reads a field at a byte offset, as the 32-bit layouts are written down.
template <typename T>
T At(const void* base, size_t offset) {
  T value;
  memcpy(&value, static_cast<const char*>(base) + offset, sizeof value);
  return value;
}

// --- paths ------------------------------------------------------------------

struct Path {
  wchar_t text[kMaxPath];
};

void Append(Path& path, const wchar_t* tail) {
  size_t at = wcslen(path.text);
  for (; *tail != L'\0' && at + 1 < kMaxPath; ++tail) path.text[at++] = *tail;
  path.text[at] = L'\0';
}

Path Join(const Path& folder, const wchar_t* name) {
  Path path = folder;
  Append(path, name);
  return path;
}

// Text in the process's ANSI code page, as the system's 8-bit calls spell it.
void ToAnsi(const wchar_t* wide, char* out, int size) {
  const int got = WideCharToMultiByte(kCodePageAnsi, 0, wide, -1, out, size, nullptr, nullptr);
  if (got <= 0) out[0] = '\0';
}

bool WriteBytes(const Path& file, const char* bytes, size_t size) {
  HANDLE handle = CreateFileW(file.text, kGenericWrite, 0, nullptr, kCreateAlways, 0, nullptr);
  if (handle == NCDRILL_INVALID_HANDLE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(handle);
  return ok != 0 && written == size;
}

// A folder under `parent`; the files written into it are removed with it.
// File names must outlive the folder (literals, or globals).
class Folder {
 public:
  Folder(const Path& parent, const wchar_t* name) : path_(Join(parent, name)) {
    Append(path_, L"\\");
    made_ = CreateDirectoryW(path_.text, nullptr) != 0;
  }
  ~Folder() {
    for (int i = 0; i < fileCount_; ++i) DeleteFileW(Join(path_, files_[i]).text);
    RemoveDirectoryW(path_.text);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool made() const { return made_; }
  const Path& path() const { return path_; }
  bool Write(const wchar_t* name, const char* bytes, size_t size) {
    Remember(name);
    return WriteBytes(Join(path_, name), bytes, size);
  }
  bool Write(const wchar_t* name, const char* text) { return Write(name, text, strlen(text)); }
  // Copies the DLL into the folder; returns the copy's path.
  Path CopyPlugin(const wchar_t* from) {
    Remember(L"ncdrill.dll");
    const Path copy = Join(path_, L"ncdrill.dll");
    CopyFileW(from, copy.text, 0);
    return copy;
  }

 private:
  void Remember(const wchar_t* name) {
    if (fileCount_ < kMaxFiles) files_[fileCount_++] = name;
  }
  static constexpr int kMaxFiles = 6;
  Path path_;
  bool made_;
  const wchar_t* files_[kMaxFiles] = {};
  int fileCount_ = 0;
};

// --- the recording host -----------------------------------------------------

// What the callbacks saw, read through the byte offsets of the layouts.
struct Recorder {
  HostCallbacks table;
  int paths;
  char path[4 * kMaxPath];
  char calls[64];  // 'P' path, 'C' chain, 'L' list, 'E' end, in call order
  int callCount;
  int chainLength;  // records, terminal one included
  int numbers[kMaxItems];
  float values[kMaxItems];
  char label[32];
  int listCount;  // the list's count word
  int slots[kMaxItems];
  int requested[kMaxItems];
  int walked;  // nodes walked from the sentinel
  bool linksOk;
  void* context;  // as the callbacks received it
};

Recorder* Self(void* context) { return static_cast<Recorder*>(context); }

void Note(Recorder& r, char kind, void* context) {
  if (r.callCount + 1 < static_cast<int>(sizeof r.calls)) r.calls[r.callCount++] = kind;
  r.calls[r.callCount] = '\0';
  r.context = context;
}

void __cdecl OnPath(void* context, const char* path) {
  Recorder& r = *Self(context);
  Note(r, 'P', context);
  ++r.paths;
  const size_t size = strlen(path);
  const size_t keep = size < sizeof r.path - 1 ? size : sizeof r.path - 1;
  memcpy(r.path, path, keep);
  r.path[keep] = '\0';
}

void __cdecl OnChain(void* context, const ChainRecord* first) {
  Recorder& r = *Self(context);
  Note(r, 'C', context);
  r.chainLength = 0;
  for (const void* record = first; record != nullptr && r.chainLength < kMaxItems;
       record = At<const void*>(record, 8)) {
    r.numbers[r.chainLength] = At<int>(record, 0);
    r.values[r.chainLength++] = At<float>(record, 4);
  }
}

void __cdecl OnList(void* context, const char* label, const SelectionList* list) {
  Recorder& r = *Self(context);
  Note(r, 'L', context);
  const size_t size = strlen(label);
  const size_t keep = size < sizeof r.label - 1 ? size : sizeof r.label - 1;
  memcpy(r.label, label, keep);
  r.label[keep] = '\0';
  const void* sentinel = At<const void*>(list, kWord);
  r.listCount = static_cast<int>(At<unsigned>(list, 2 * kWord));
  r.walked = 0;
  r.linksOk = true;
  const void* previous = sentinel;
  for (const void* node = At<const void*>(sentinel, 0); node != sentinel && r.walked < kMaxItems;
       node = At<const void*>(node, 0)) {
    r.linksOk = r.linksOk && At<const void*>(node, kWord) == previous;
    r.slots[r.walked] = At<int>(node, 2 * kWord);
    r.requested[r.walked++] = At<int>(node, 2 * kWord + 4);
    previous = node;
  }
  r.linksOk = r.linksOk && At<const void*>(sentinel, kWord) == previous;
}

void __cdecl OnEnd(void* context) { Note(*Self(context), 'E', context); }

Recorder g_host;
Recorder g_other;

void Reset(Recorder& r) {
  memset(&r, 0, sizeof r);
  r.table.context = &r;
  r.table.putDefinitionPath = OnPath;
  r.table.putRecordChain = OnChain;
  r.table.putLabelledList = OnList;
  r.table.endBlock = OnEnd;
  r.linksOk = true;
}

// "301=0 81=127 -81=0": the last chain as number=value, terminal record last.
const char* ChainText(const Recorder& r) {
  size_t at = 0;
  g_scratch[0] = '\0';
  for (int i = 0; i < r.chainLength && at + 40 < sizeof g_scratch; ++i) {
    const int value = static_cast<int>(r.values[i] * 10.0f);
    const int wrote = value % 10 == 0 ? _snprintf(g_scratch + at, 40, "%s%d=%d", i ? " " : "",
                                                  r.numbers[i], value / 10)
                                      : _snprintf(g_scratch + at, 40, "%s%d=%d.%d", i ? " " : "",
                                                  r.numbers[i], value / 10, value % 10);
    if (wrote > 0) at += static_cast<size_t>(wrote);
  }
  return g_scratch;
}

// "(301, 301) (302, 302)": the last list.
const char* ListText(const Recorder& r) {
  size_t at = 0;
  g_scratch[0] = '\0';
  for (int i = 0; i < r.walked && at + 40 < sizeof g_scratch; ++i) {
    const int wrote =
        _snprintf(g_scratch + at, 40, "%s(%d, %d)", i ? " " : "", r.slots[i], r.requested[i]);
    if (wrote > 0) at += static_cast<size_t>(wrote);
  }
  return g_scratch;
}

bool Block(Interpreter* p, const char* text) {
  return p->InterpretBlock(text, static_cast<std::int32_t>(strlen(text)));
}

// --- the loaded plug-in -----------------------------------------------------

class Plugin {
 public:
  explicit Plugin(const Path& file) : module_(LoadLibraryW(file.text)) {
    if (module_ != nullptr) {
      getInterpreter_ =
          reinterpret_cast<GetInterpreterFn>(GetProcAddress(module_, "GetInterpreter"));
    }
  }
  ~Plugin() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  bool loaded() const { return getInterpreter_ != nullptr; }
  HMODULE module() const { return module_; }
  Interpreter* Create(Recorder& r, const char* definition = nullptr, const char* table = nullptr) {
    Reset(r);
    return getInterpreter_(&r.table, definition, table);
  }
  GetInterpreterFn getInterpreter() const { return getInterpreter_; }

 private:
  HMODULE module_;
  GetInterpreterFn getInterpreter_ = nullptr;
};

// The folder of the loaded module as GetModuleFileNameA spells it, then `name`.
const char* AnsiModuleFolderAnd(HMODULE module, const char* name) {
  const DWORD size = GetModuleFileNameA(module, g_scratch, sizeof g_scratch);
  size_t cut = 0;
  for (DWORD i = 0; i < size; ++i) {
    if (g_scratch[i] == '\\') cut = i + 1;
  }
  const size_t tail = strlen(name);
  if (cut + tail + 1 > sizeof g_scratch) return "";
  memcpy(g_scratch + cut, name, tail + 1);
  return g_scratch;
}

// --- the stack on win32 -----------------------------------------------------

#if defined(_M_IX86)
// Read right before and right after a call in the same frame: a callee that
// removes more or fewer argument bytes than its convention says (or that
// called the host's cdecl callbacks as another convention) moves it.
inline size_t StackPointer() {
  size_t sp;
  __asm__ __volatile__("movl %%esp, %0" : "=r"(sp) : : "memory");
  return sp;
}
#define NCDRILL_BALANCED(call, what)                                                     \
  do {                                                                                   \
    const size_t before_ = StackPointer();                                               \
    call;                                                                                \
    const size_t after_ = StackPointer();                                                \
    CheckInt(static_cast<long long>(after_) - static_cast<long long>(before_), 0, what); \
  } while (0)
#else
#define NCDRILL_BALANCED(call, what) call
#endif

// Blocks of the msvcrt heap in use: the plug-in's runtime allocates there.
int HeapBlocksInUse() {
  HeapInfo info{};
  int used = 0;
  while (_heapwalk(&info) == kHeapOk) {
    if (info.useFlag == kUsedEntry) ++used;
  }
  return used;
}

// Committed private memory of the process, from the address space itself.
long long PrivateBytes() {
  long long total = 0;
  const char* address = nullptr;
  MEMORY_BASIC_INFORMATION info{};
  while (VirtualQuery(address, &info, sizeof info) == sizeof info) {
    if (info.State == kMemCommit && info.Type == kMemPrivate) {
      total += static_cast<long long>(info.RegionSize);
    }
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= address) break;
    address = next;
  }
  return total;
}

// --- the DLL's own headers --------------------------------------------------

struct Image {
  const unsigned char* base;
  unsigned size;
  unsigned short magic;
  unsigned short machine;
  unsigned exportRva;
  unsigned importRva;
};

Image ReadImage(HMODULE module) {
  Image image{};
  image.base = static_cast<const unsigned char*>(module);
  const unsigned char* nt = image.base + At<int>(image.base, 0x3c);
  if (memcmp(nt, "PE\0\0", 4) != 0) return image;
  image.machine = At<unsigned short>(nt, 4);
  const unsigned char* optional = nt + 24;
  image.magic = At<unsigned short>(optional, 0);
  image.size = At<unsigned>(optional, 56);  // SizeOfImage
  const size_t directories = image.magic == 0x20b ? 112 : 96;
  image.exportRva = At<unsigned>(optional, directories);
  image.importRva = At<unsigned>(optional, directories + 8);
  return image;
}

bool Inside(const Image& image, const void* address) {
  const unsigned char* at = static_cast<const unsigned char*>(address);
  return at >= image.base && at < image.base + image.size;
}

bool IsSystemDll(const char* name) {
  static const char* const kSystem[] = {"kernel32.dll", "msvcrt.dll",   "ntdll.dll",
                                        "user32.dll",   "advapi32.dll", "ucrtbase.dll"};
  for (const char* system : kSystem) {
    if (_stricmp(name, system) == 0) return true;
  }
  return _strnicmp(name, "api-ms-win-", 11) == 0;
}

NCDRILL_OWN_FRAME void ExportsOnlyGetInterpreterAndImportsOnlySystemDlls(const Path& dll) {
  g_test = "exports and imports";
  Plugin plugin(dll);
  if (!Check(plugin.loaded(), "the DLL loads and has GetInterpreter")) return;
  const Image image = ReadImage(plugin.module());
  CheckInt(image.magic, kWord == 8 ? 0x20b : 0x10b, "PE32 for win32, PE32+ for win64");
  CheckInt(image.machine, kWord == 8 ? 0x8664 : 0x14c, "machine");
  const unsigned char* exports = image.base + image.exportRva;
  CheckInt(At<unsigned>(exports, 20), 1, "one exported function");
  CheckInt(At<unsigned>(exports, 24), 1, "one exported name");
  const unsigned* names = reinterpret_cast<const unsigned*>(image.base + At<unsigned>(exports, 32));
  CheckText(reinterpret_cast<const char*>(image.base + names[0]), "GetInterpreter",
            "the name, undecorated");
  const unsigned* functions =
      reinterpret_cast<const unsigned*>(image.base + At<unsigned>(exports, 28));
  Check(image.base + functions[0] == reinterpret_cast<const unsigned char*>(
                                         reinterpret_cast<void*>(plugin.getInterpreter())),
        "GetProcAddress finds the exported function");
  int imports = 0;
  for (const unsigned char* d = image.base + image.importRva; At<unsigned>(d, 12) != 0; d += 20) {
    const char* name = reinterpret_cast<const char*>(image.base + At<unsigned>(d, 12));
    Print("  imports %s\n", name);
    if (!IsSystemDll(name)) Print("  not a system DLL: %s\n", name);
    Check(IsSystemDll(name), "imports only DLLs that ship with Windows");
    ++imports;
  }
  Check(imports > 0, "an import directory");
}

// --- the object and its virtual table ---------------------------------------

#if defined(_M_IX86)
#define NCDRILL_THISCALL __thiscall
#else
#define NCDRILL_THISCALL
#endif
// The two slots, called by hand with their exact types; the result of slot 1
// as the byte it is.
typedef void*(NCDRILL_THISCALL* DeletingDestructorSlot)(Interpreter* self, unsigned int flags);
typedef unsigned char(NCDRILL_THISCALL* InterpretBlockSlot)(Interpreter* self, const char* text,
                                                            std::int32_t length);

void* const* VirtualTable(const Interpreter* p) { return At<void* const*>(p, 0); }

DeletingDestructorSlot Slot0(const Interpreter* p) {
  return reinterpret_cast<DeletingDestructorSlot>(VirtualTable(p)[0]);
}
InterpretBlockSlot Slot1(const Interpreter* p) {
  return reinterpret_cast<InterpretBlockSlot>(VirtualTable(p)[1]);
}

NCDRILL_OWN_FRAME void ObjectModelAndCallingConventions(const Path& root, const Path& dll) {
  g_test = "object model";
  Folder folder(root, L"object");
  folder.Write(L"VONDRIX_4.txt", "5 G81\n7\n");
  Plugin plugin(folder.CopyPlugin(dll.text));
  if (!Check(plugin.loaded(), "the DLL loads")) return;
  const Image image = ReadImage(plugin.module());
  Reset(g_host);
  Interpreter* p = nullptr;
  NCDRILL_BALANCED(p = plugin.getInterpreter()(&g_host.table, nullptr, nullptr),
                   "GetInterpreter is cdecl: the caller removes the arguments");
  if (!Check(p != nullptr, "GetInterpreter gives an interpreter")) return;
  CheckText(g_host.calls, "P", "the definition path came before GetInterpreter returned");
  Check(g_host.context == &g_host, "callbacks receive the context");
  Check(p->host == &g_host.table, "host, as the header lays it out");
  Check(At<HostCallbacks*>(p, kWord) == &g_host.table, "host at offset 4 (win32) or 8 (win64)");
  Check(Inside(image, VirtualTable(p)) && Inside(image, VirtualTable(p)[0]) &&
            Inside(image, VirtualTable(p)[1]),
        "the virtual table and its slots lie in the DLL");

  bool result = false;
  NCDRILL_BALANCED(result = p->InterpretBlock("T5", 2),
                   "InterpretBlock removes its 8 bytes of arguments (thiscall)");
  Check(result, "slot 1: a tool request returns true");
  unsigned char byte = 0xff;
  NCDRILL_BALANCED(byte = Slot1(p)(p, "X1 Y2", 5), "slot 1 called by hand");
  CheckInt(byte, 0, "the result is the byte 0 for false");
  NCDRILL_BALANCED(byte = Slot1(p)(p, "G52", 3), "slot 1 called by hand again");
  CheckInt(byte, 1, "the result is the byte 1 for true");

  NCDRILL_BALANCED(
      result = p->InterpretBlock("G81 Z-5", 7),
      "a drill block: the cdecl callbacks and InterpretBlock leave the stack as found");
  Check(!result, "a drill block alone returns false");
  CheckText(g_host.calls, "PCLE", "chain, list, end: in that order");
  CheckText(ChainText(g_host), "5=0 7=127 -5=0", "the chain through its 32-bit offsets");
  CheckText(g_host.label, "Drill block", "the label");
  CheckText(ListText(g_host), "(5, 5)", "the list through its 32-bit offsets");
  CheckInt(g_host.listCount, 1, "the list's count");
  Check(g_host.linksOk, "the list is circular both ways");

  // A host may point its interpreter at another table through `host`.
  Reset(g_other);
  p->host = &g_other.table;
  p->InterpretBlock("G81", 3);
  CheckText(g_other.calls, "CLE", "a changed host field is followed");
  CheckText(g_host.calls, "PCLE", "the old table is left alone");
  NCDRILL_BALANCED(delete p, "the scalar deleting destructor removes its 4 bytes");
}

NCDRILL_OWN_FRAME void DestructorFlags(const Path& root, const Path& dll) {
  g_test = "scalar deleting destructor";
  Folder folder(root, L"flags");
  folder.Write(L"VONDRIX_4.txt", "1 A\n2 B\n3 C\n4 D\n5 E\n6 F\n7 G\n8 H\n9 I\n10 J\n");
  Plugin plugin(folder.CopyPlugin(dll.text));
  if (!Check(plugin.loaded(), "the DLL loads")) return;
  delete plugin.Create(g_host);  // what a first interpreter makes once, made
  const int before = HeapBlocksInUse();

  Interpreter* p = plugin.Create(g_host);
  Block(p, "T1 T2");
  Check(HeapBlocksInUse() > before + 1, "an interpreter holds blocks besides itself");
  delete p;
  CheckInt(HeapBlocksInUse(), before, "delete p (flags 1) frees everything");

  // After flags 0 the object's block stays allocated: a host that destroys
  // without deleting cannot give it back (the DLL's allocator is its own),
  // so these two are left to the end of the process.
  p = plugin.Create(g_host);
  Block(p, "T3");
  p->~Interpreter();
  CheckInt(HeapBlocksInUse(), before + 1,
           "p->~Interpreter() (flags 0) releases all but the object");

  p = plugin.Create(g_host);
  void* returned = nullptr;
  NCDRILL_BALANCED(returned = Slot0(p)(p, 0), "slot 0 removes its 4 bytes of arguments");
  Check(returned == p, "slot 0 with flags 0 returns this");
  CheckInt(HeapBlocksInUse(), before + 2, "flags 0 destroys without freeing");

  p = plugin.Create(g_host);
  returned = Slot0(p)(p, 1);
  Check(returned == p, "slot 0 with flags 1 returns this");
  CheckInt(HeapBlocksInUse(), before + 2, "flags 1 frees");
}

// --- the definition path and the folder -------------------------------------

const wchar_t kLongName1[] =
    L"ncdrill-long-folder-name-0123456789-0123456789-0123456789-0123456789-0123456789-"
    L"0123456789-0123456789-0123456789-0123456789-0123456789-0123456789-0123456789";
const wchar_t kLongName2[] =
    L"second-long-folder-name-abcdefghij-abcdefghij-abcdefghij-abcdefghij-abcdefghij-"
    L"abcdefghij-abcdefghij-abcdefghij-abcdefghij-abcdefghij-abcdefghij-abcdefghij";
// Greek and Cyrillic letters: no single ANSI code page spells both.
const wchar_t kForeignName[] = L"ncdrill-\x03A9\x03BC\x03AD\x03B3\x03B1-\x0429\x0443\x043A\x0430";
// A table name in the ANSI code page with a letter outside ASCII.
const char kAnsiTableName[] =
    "t\xE4"
    "ble.txt";
wchar_t g_ansiTableNameWide[64];

NCDRILL_OWN_FRAME void ExpectPathAndTable(const Path& folderPath, const char* what) {
  Plugin plugin(Join(folderPath, L"ncdrill.dll"));
  if (!Check(plugin.loaded(), "the DLL loads from the folder")) return;
  Interpreter* p = plugin.Create(g_host);
  if (!Check(p != nullptr, "an interpreter")) return;
  CheckText(g_host.path, AnsiModuleFolderAnd(plugin.module(), "VONDRIX_4.xml"), what);
  Block(p, "T1");
  Block(p, "G81");
  CheckText(ChainText(g_host), "1=0 2=127 -2=0", "the table in that folder is read");
  delete p;
  p = plugin.Create(g_host, "sub\\d e.xml", kAnsiTableName);
  CheckText(g_host.path, AnsiModuleFolderAnd(plugin.module(), "sub\\d e.xml"),
            "a given name is appended as it stands");
  Block(p, "G83");
  CheckText(ChainText(g_host), "3=127 -3=0", "a table name in the ANSI code page is found");
  delete p;
}

NCDRILL_OWN_FRAME void DefinitionPathAndFolder(const Path& root, const Path& dll) {
  g_test = "definition path";
  const char* table = "1\n2 G81\n";
  {
    Folder outer(root, kLongName1);
    Folder inner(outer.path(), kLongName2);
    inner.CopyPlugin(dll.text);
    inner.Write(L"VONDRIX_4.txt", table);
    inner.Write(g_ansiTableNameWide, "3 G83\n");
    CheckInt(wcslen(inner.path().text) > 256, 1, "the folder's path is longer than 256");
    ExpectPathAndTable(inner.path(), "a folder past 256 characters, as GetModuleFileNameA");
  }
  {
    Folder foreign(root, kForeignName);
    foreign.CopyPlugin(dll.text);
    foreign.Write(L"VONDRIX_4.txt", table);
    foreign.Write(g_ansiTableNameWide, "3 G83\n");
    char ansi[kMaxPath];
    ToAnsi(foreign.path().text, ansi, sizeof ansi);
    Print("  code page %u spells the foreign folder as %s\n", GetACP(), ansi);
    ExpectPathAndTable(foreign.path(),
                       "a folder the code page cannot spell, as GetModuleFileNameA");
  }
}

// --- the table and the drill block ------------------------------------------

NCDRILL_OWN_FRAME void TableRulesAndDrillBlocks(const Path& root, const Path& dll) {
  g_test = "table rules";
  Folder folder(root, L"rules");
  folder.CopyPlugin(dll.text);
  // CR LF line ends; a Ctrl-Z ends the file, and the CR before it stays.
  const char rules[] =
      "# spindles\r\n301\r\n302\r\n\r\n81 G81\r\n5 G73\r\n7 G84\r\x1A"
      "9 G83\r\n";
  folder.Write(L"VONDRIX_4.txt", rules, sizeof rules - 1);
  Plugin plugin(Join(folder.path(), L"ncdrill.dll"));
  if (!Check(plugin.loaded(), "the DLL loads")) return;
  Interpreter* p = plugin.Create(g_host);
  Check(Block(p, "T3 M9"), "a mask request returns true");
  Check(!Block(p, "G81 Z-5"), "the drill block returns false");
  CheckText(ChainText(g_host), "301=0 302=0 81=127 5=127 7=127 -81=0",
            "CR LF dropped, the line after the Ctrl-Z not read");
  CheckText(ListText(g_host), "(301, 301) (302, 302)", "the mask's Selections, in bit order");
  CheckInt(g_host.listCount, 2, "the count");
  Block(p, "G20 G73 X1");
  CheckText(ChainText(g_host), "301=5 302=5 81=5 5=5 7=5 -5=0", "inch units; a CR LF name");
  Reset(g_host);
  Block(p, "G83");
  CheckText(g_host.calls, "", "nothing after the Ctrl-Z triggers");
  Block(p, "G84 X1");
  CheckText(g_host.calls, "", "a CR before the Ctrl-Z stays in the name");
  p->InterpretBlock("G84\r", 4);
  CheckText(ChainText(g_host), "301=5 302=5 81=5 5=5 7=5 -7=0", "and triggers with it");
  delete p;
}

NCDRILL_OWN_FRAME void TwoInterpreters(const Path& root, const Path& dll) {
  g_test = "two interpreters";
  Folder folder(root, L"two");
  folder.Write(L"a.txt", "5 G81\n");
  folder.Write(L"b.txt", "7 G81\n9 G82\n");
  Plugin plugin(folder.CopyPlugin(dll.text));
  if (!Check(plugin.loaded(), "the DLL loads")) return;
  Interpreter* a = plugin.Create(g_host, nullptr, "a.txt");
  Interpreter* b = plugin.Create(g_other, nullptr, "b.txt");
  Block(a, "T5");
  Block(b, "T9");
  Block(b, "G21 G82");
  CheckText(ChainText(g_other), "7=127 9=0 -9=0", "the second table and its own request");
  CheckText(ListText(g_other), "(9, 9)", "the second one's Selections");
  Block(a, "G81");
  CheckText(ChainText(g_host), "5=0 -5=0", "the first table and its own request");
  CheckText(ListText(g_host), "(5, 5)", "the first one's Selections");
  delete b;
  Block(a, "T5 G81");
  CheckText(ListText(g_host), "(5, 5)", "the first outlives the second");
  delete a;
}

NCDRILL_OWN_FRAME void LoadUnloadCycles(const Path& root, const Path& dll) {
  g_test = "load and unload";
  Folder folder(root, L"cycles");
  folder.CopyPlugin(dll.text);
  folder.Write(L"VONDRIX_4.txt", "1 G81\n2\n");
  const Path file = Join(folder.path(), L"ncdrill.dll");
  constexpr int kWarmUp = 4;
  constexpr int kCycles = 48;
  long long before = 0;
  int unloaded = 0;
  for (int cycle = 0; cycle < kWarmUp + kCycles; ++cycle) {
    if (cycle == kWarmUp) before = PrivateBytes();
    {
      Plugin plugin(file);
      if (!plugin.loaded()) break;
      Interpreter* p = plugin.Create(g_host);
      Block(p, "T1 G81");
      delete p;
    }
    if (GetModuleHandleW(L"ncdrill.dll") == nullptr) ++unloaded;
  }
  const long long grown = PrivateBytes() - before;
  Print(
      "  private bytes grew by %lld over %d cycles of LoadLibrary, GetInterpreter, delete,"
      " FreeLibrary\n",
      grown, kCycles);
  CheckInt(unloaded, kWarmUp + kCycles, "FreeLibrary unloads the DLL every time");
  Check(grown < 256 * 1024, "cycles do not grow the process");
}

// --- the command line -------------------------------------------------------

Path g_dll;   // the DLL to test
Path g_temp;  // the system's temporary folder

// The first argument of the command line: the DLL to test.
Path FirstArgument() {
  const wchar_t* at = GetCommandLineW();
  const bool quoted = *at == L'"';
  if (quoted) ++at;
  while (*at != L'\0' && (quoted ? *at != L'"' : *at != L' ')) ++at;  // the program
  if (*at == L'"') ++at;
  while (*at == L' ') ++at;
  Path path{};
  const wchar_t end = *at == L'"' ? L'"' : L' ';
  if (*at == L'"') ++at;
  size_t size = 0;
  while (*at != L'\0' && *at != end && size + 1 < kMaxPath) path.text[size++] = *at++;
  path.text[size] = L'\0';
  return path;
}

NCDRILL_OWN_FRAME int Run() {
  g_dll = FirstArgument();
  const Path& dll = g_dll;
  if (dll.text[0] == L'\0') {
    Print("usage: ncdrill_msvc_host PATH-OF-ncdrill.dll\n");
    return 2;
  }
  MultiByteToWideChar(kCodePageAnsi, 0, kAnsiTableName, -1, g_ansiTableNameWide, 64);
  GetTempPathW(static_cast<DWORD>(kMaxPath), g_temp.text);
  wchar_t name[64];
  const char* prefix = "ncdrill-msvc-host-";
  size_t at = 0;
  for (; prefix[at] != '\0'; ++at) name[at] = static_cast<wchar_t>(prefix[at]);
  for (DWORD id = GetCurrentProcessId(); id != 0 && at < 60; id /= 10) {
    name[at++] = static_cast<wchar_t>(L'0' + id % 10);
  }
  name[at] = L'\0';
  {
    Folder root(g_temp, name);
    if (!root.made()) {
      Print("cannot make a scratch folder\n");
      return 2;
    }
    ExportsOnlyGetInterpreterAndImportsOnlySystemDlls(dll);
    ObjectModelAndCallingConventions(root.path(), dll);
    DestructorFlags(root.path(), dll);
    DefinitionPathAndFolder(root.path(), dll);
    TableRulesAndDrillBlocks(root.path(), dll);
    TwoInterpreters(root.path(), dll);
    LoadUnloadCycles(root.path(), dll);
  }
  Print("ncdrill_msvc_host (%s): %d passed, %d failed\n", kWord == 8 ? "win64" : "win32", g_passed,
        g_failed);
  return g_failed == 0 ? 0 : 1;
}

}  // namespace

// The program's entry point: no C or C++ runtime start-up, as nothing here
// needs one (no static constructors, no exceptions, no runtime type
// information).
extern "C" void HostMain() { ExitProcess(static_cast<UINT>(Run())); }
