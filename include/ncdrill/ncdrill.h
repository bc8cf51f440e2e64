// ncdrill: the public boundary between a host application and the ncdrill
// plug-in (ncdrill.so on Linux, ncdrill.dll on Windows).
//
// A host loads the plug-in (dlopen or LoadLibrary), looks up GetInterpreter
// by name (dlsym or GetProcAddress) and calls it with its callback table.
// The interpreter it receives is fed with the part program one block at a
// time through InterpretBlock; when a block names one of the definition
// table's triggers the interpreter hands the host a drill block through the
// callback table: the record chain, the list of tool requests and an
// end-of-block call.
//
// Every type the host and the plug-in exchange is declared here, and every
// layout is pinned by static_assert for the builds we ship: x86-64 and i386
// on Linux (System V ABI), and 64-bit and 32-bit Windows, where hosts are
// built with the Microsoft C++ compiler and the 32-bit layouts are those of
// the original 32-bit plug-in. Hosts are compiled against these layouts; they
// never change.
//
// This header is self-contained C++17 and needs nothing beyond the standard
// library's <cstddef> and <cstdint>. The same header serves hosts built with
// g++, clang and the Microsoft compiler.

#ifndef NCDRILL_NCDRILL_H
#define NCDRILL_NCDRILL_H

#include <cstddef>
#include <cstdint>

#if defined(NCDRILL_BUILDING_PLUGIN) && defined(_WIN32)
#define NCDRILL_EXPORT __declspec(dllexport)
#elif defined(NCDRILL_BUILDING_PLUGIN)
#define NCDRILL_EXPORT __attribute__((visibility("default")))
#else
#define NCDRILL_EXPORT
#endif

// The calling convention of GetInterpreter and of every callback: cdecl on
// 32-bit Windows (the caller removes the arguments), whatever a host's
// compiler defaults to; the platform's only convention elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define NCDRILL_CDECL __cdecl
#else
#define NCDRILL_CDECL
#endif

// ---------------------------------------------------------------------------
// Records of the drill block
// ---------------------------------------------------------------------------

// One record per line taken from the definition table, in file order, and a
// terminal record that ends the chain.
//
// Owner: the interpreter. Lifetime: the interpreter's; a record never moves,
// so a host may keep the address it got from putRecordChain and read the
// values the last drill block left there. Values and the terminal record's
// number change only during a drill block.
struct ChainRecord {
  // The number of the table line. In the terminal record: minus the number
  // of the table entry that triggered the latest drill block (0 before the
  // first one). Negation wraps, so INT32_MIN stays INT32_MIN.
  std::int32_t number;
  // 0.0 when a tool request accepted since the previous drill block asked
  // for this number or was resolved to it; otherwise five inches in the
  // current units: 5.0 in inch mode (G20), 127.0 in metric mode (G21, the
  // initial mode). Always 0.0 in the terminal record and before the first
  // drill block.
  float value;
  // The next record in file order; the last table record points at the
  // terminal record, whose next is null.
  ChainRecord* next;
};

// ---------------------------------------------------------------------------
// Tool requests
// ---------------------------------------------------------------------------

// One accepted tool request.
struct Selection {
  // The largest table number n with 0 <= n <= requested, or -1 if the table
  // has none.
  std::int32_t slot;
  // The number asked for: the T-word's value, or 301 + i for bit i of an
  // "M9" mask.
  std::int32_t requested;
};

// A node of SelectionList. The list is circular in both directions through a
// sentinel node that holds no Selection.
//
// Owner: the interpreter. Lifetime: a node is valid until endBlock returns;
// the host must not keep node addresses past that call.
struct SelectionNode {
  SelectionNode* next;  // the following node; the last one points at the sentinel
  SelectionNode* prev;  // the preceding node; the first one points at the sentinel
  Selection selection;  // undefined in the sentinel
};

// The tool requests accepted since the previous drill block, in the order in
// which they were accepted.
//
// Owner: the interpreter; putLabelledList always hands over the address of
// the interpreter's own list, the same at every drill block. The host reads
// it during the callback and never writes to it.
struct SelectionList {
  void* reserved;           // no defined content; do not read
  SelectionNode* sentinel;  // sentinel->next is the first Selection, sentinel->prev the last
  std::uint32_t count;      // number of Selections; 0 when sentinel->next == sentinel
};

// ---------------------------------------------------------------------------
// The host's callback table
// ---------------------------------------------------------------------------

extern "C" {
// Every callback receives HostCallbacks::context first. None returns
// anything. They run on the thread that called into the plug-in.

// Ends a drill block. The Selections are removed after it returns.
typedef void(NCDRILL_CDECL* EndBlockFn)(void* context);

// Starts a drill block. `first` is the first table record (the terminal
// record when the table is empty); see ChainRecord for its lifetime.
typedef void(NCDRILL_CDECL* PutRecordChainFn)(void* context, const ChainRecord* first);

// Hands over the full path of the definition file: the folder of the plug-in
// followed by the definition file name (on Windows in the process's ANSI
// code page, as GetModuleFileNameA spells the folder). Called once, during
// GetInterpreter, before it returns. `path` is valid during the call only. The plug-in never
// opens that file nor checks that it exists.
typedef void(NCDRILL_CDECL* PutDefinitionPathFn)(void* context, const char* path);

// Hands over the tool requests of a drill block, with the label
// "Drill block". `label` and `list` are valid during the call; the nodes
// until endBlock returns.
typedef void(NCDRILL_CDECL* PutLabelledListFn)(void* context, const char* label,
                                               const SelectionList* list);
}

// The host's table of pointer-sized slots. The plug-in reads context and the
// four callbacks at the moment of each call, never caches them, and never
// writes to the table. A null callback slot is skipped. Other slots are the
// host's own and are never read.
//
// Owner: the host, which keeps it in place for the interpreter's lifetime.
struct HostCallbacks {
  void* slot0;                            // slot 0: not used by the plug-in
  void* context;                          // slot 1: first argument of every callback
  void* slots2to28[27];                   // slots 2-28: not used by the plug-in
  EndBlockFn endBlock;                    // slot 29
  void* slots30to35[6];                   // slots 30-35: not used by the plug-in
  PutRecordChainFn putRecordChain;        // slot 36
  void* slot37;                           // slot 37: not used by the plug-in
  PutDefinitionPathFn putDefinitionPath;  // slot 38
  void* slot39;                           // slot 39: not used by the plug-in
  PutLabelledListFn putLabelledList;      // slot 40
};

// ---------------------------------------------------------------------------
// The interpreter
// ---------------------------------------------------------------------------

// What GetInterpreter returns. The host owns it and destroys it with delete
// (through the virtual destructor, so the memory goes back to the plug-in's
// allocator). Calls on one interpreter come from one thread at a time;
// different interpreters share nothing.
//
// Object layout: the virtual table pointer, then `host`. On Linux (Itanium
// C++ ABI, as g++ and clang build it) the virtual table holds the
// destructor's two entries, then InterpretBlock. On Windows it is the
// Microsoft compiler's: two entries, the scalar deleting destructor (what
// `delete p` and an explicit `p->~Interpreter()` call) and InterpretBlock,
// both thiscall in 32-bit builds.
//
// InterpretBlock interprets one block of the part program: `length`
// characters at `text`, which need not end with a NUL; a NUL among them ends
// the block early, and nothing past `length` is read. A null `text` or a
// negative `length` is taken as an empty block.
//
// It returns true when the block carried an accepted tool request (T-word)
// or contained "G52". When the block names one of the table's triggers, the
// callbacks putRecordChain, putLabelledList and endBlock run, in that order,
// before the call returns. A callback may call InterpretBlock on the same
// interpreter again; it must not destroy the interpreter.
//
// No exception leaves the call: the plug-in throws none of its own, and one
// thrown by a host callback (which should not throw: the callbacks are C
// functions) ends at that callback's call.
#if defined(_WIN32) && !defined(_MSC_VER) && !defined(NCDRILL_BUILDING_PLUGIN)
// A host built for Windows by g++ or clang for mingw: such a compiler would
// lay out a virtual destructor in two slots, as on Linux, and call the wrong
// ones. Here the object is seen as it is: the Microsoft compiler's virtual
// table, called through its two slots. `delete p` destroys the interpreter
// and returns its memory to the plug-in; so does an explicit
// `p->~Interpreter()`, which must not be followed by a delete.
class Interpreter {
#if defined(__i386__)
// The slots take `this` as the Microsoft compiler passes it (in ECX); g++
// calls the attribute on a plain function an extension, which it is.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
#define NCDRILL_THISCALL __attribute__((thiscall))
#else
#define NCDRILL_THISCALL
#endif
  // The Microsoft compiler's virtual table of Interpreter.
  struct VirtualTable {
    // Bit 0 of `flags`: also free the memory. Returns the object's address.
    void*(NCDRILL_THISCALL* scalarDeletingDestructor)(Interpreter* self, unsigned int flags);
    bool(NCDRILL_THISCALL* interpretBlock)(Interpreter* self, const char* text,
                                           std::int32_t length);
  };
#undef NCDRILL_THISCALL
#if defined(__i386__)
#pragma GCC diagnostic pop
#endif
  const VirtualTable* virtualTable_;

 public:
  bool InterpretBlock(const char* text, std::int32_t length) {
    return virtualTable_->interpretBlock(this, text, length);
  }

  // The host's callback table, as passed to GetInterpreter. Not owned.
  HostCallbacks* host;

  ~Interpreter() { virtualTable_->scalarDeletingDestructor(this, 1); }
  // The destructor gave the memory back to the plug-in's allocator.
  static void operator delete(void*) noexcept {}

  Interpreter() = delete;
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;
};
#else
class Interpreter {
 public:
  virtual ~Interpreter() = default;

  virtual bool InterpretBlock(const char* text, std::int32_t length) = 0;

  // The host's callback table, as passed to GetInterpreter. Not owned.
  HostCallbacks* host;

  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

 protected:
  explicit Interpreter(HostCallbacks* callbacks) noexcept : host(callbacks) {}
};
#endif

extern "C" {
// Creates an interpreter.
//
// host: the host's callback table; must stay valid for the interpreter's
//   lifetime. putDefinitionPath is called before this function returns.
// definitionFileName, tableFileName: names of the definition file and the
//   definition table file, appended as they stand to the folder that holds
//   the plug-in's file. Null or empty selects "VONDRIX_4.xml" and
//   "VONDRIX_4.txt". On Windows they are text in the process's ANSI code
//   page. Read during the call only.
//
// Returns a new interpreter, or null when memory ran out (then nothing the
// call took is kept). A missing or unreadable table file gives an interpreter
// with an empty table, which never delivers a drill block. Safe to call from
// several threads at once.
NCDRILL_EXPORT Interpreter* NCDRILL_CDECL GetInterpreter(HostCallbacks* host,
                                                         const char* definitionFileName,
                                                         const char* tableFileName);

// The type to cast dlsym(handle, "GetInterpreter") or
// GetProcAddress(module, "GetInterpreter") to.
typedef Interpreter*(NCDRILL_CDECL* GetInterpreterFn)(HostCallbacks* host,
                                                      const char* definitionFileName,
                                                      const char* tableFileName);
}

// ---------------------------------------------------------------------------
// Pinned layouts
// ---------------------------------------------------------------------------

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
namespace ncdrill_layout {
constexpr std::size_t kWord = sizeof(void*);
#if defined(_WIN64)
static_assert(kWord == 8 && sizeof(long) == 4, "LLP64 expected");
#elif defined(_WIN32)
static_assert(kWord == 4 && sizeof(long) == 4, "ILP32 expected");
#else
static_assert(kWord == (sizeof(long) == 8 ? 8u : 4u), "LP64 or ILP32 expected");
#endif
static_assert(sizeof(bool) == 1, "bool is one byte");
static_assert(sizeof(float) == 4, "float is 32-bit IEEE");

static_assert(offsetof(ChainRecord, number) == 0, "ChainRecord::number");
static_assert(offsetof(ChainRecord, value) == 4, "ChainRecord::value");
static_assert(offsetof(ChainRecord, next) == 8, "ChainRecord::next");
static_assert(sizeof(ChainRecord) == (kWord == 8 ? 16u : 12u), "ChainRecord size");

static_assert(offsetof(Selection, slot) == 0, "Selection::slot");
static_assert(offsetof(Selection, requested) == 4, "Selection::requested");
static_assert(sizeof(Selection) == 8, "Selection size");

static_assert(offsetof(SelectionList, reserved) == 0, "SelectionList word 0");
static_assert(offsetof(SelectionList, sentinel) == kWord, "SelectionList::sentinel");
static_assert(offsetof(SelectionList, count) == 2 * kWord, "SelectionList::count");
static_assert(sizeof(SelectionList) == 3 * kWord, "SelectionList size");

static_assert(offsetof(SelectionNode, next) == 0, "SelectionNode::next");
static_assert(offsetof(SelectionNode, prev) == kWord, "SelectionNode::prev");
static_assert(offsetof(SelectionNode, selection) + offsetof(Selection, slot) == 2 * kWord,
              "SelectionNode slot");
static_assert(offsetof(SelectionNode, selection) + offsetof(Selection, requested) == 2 * kWord + 4,
              "SelectionNode requested");
static_assert(sizeof(SelectionNode) == (kWord == 8 ? 24u : 16u), "SelectionNode size");

static_assert(offsetof(HostCallbacks, context) == 1 * kWord, "slot 1");
static_assert(offsetof(HostCallbacks, endBlock) == 29 * kWord, "slot 29");
static_assert(offsetof(HostCallbacks, putRecordChain) == 36 * kWord, "slot 36");
static_assert(offsetof(HostCallbacks, putDefinitionPath) == 38 * kWord, "slot 38");
static_assert(offsetof(HostCallbacks, putLabelledList) == 40 * kWord, "slot 40");
static_assert(sizeof(HostCallbacks) == 41 * kWord, "41 slots");
static_assert(sizeof(EndBlockFn) == kWord && sizeof(PutRecordChainFn) == kWord &&
                  sizeof(PutDefinitionPathFn) == kWord && sizeof(PutLabelledListFn) == kWord,
              "callback slots are one word");

static_assert(sizeof(Interpreter) == 2 * kWord, "virtual table pointer, then host");
}  // namespace ncdrill_layout
#endif

#endif  // NCDRILL_NCDRILL_H
