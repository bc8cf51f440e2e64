// ncdrill host helper: loads the ncdrill plug-in and hands its drill blocks to
// a C++ handler, with the boundary's rules kept in one place.
//
//   struct Printer : ncdrill::Handler {
//     void OnDrillBlock(const ncdrill::DrillBlock& block) override {
//       for (const ChainRecord& record : block.records()) { /* record.number, record.value */ }
//       for (const Selection& selection : block.selections()) { /* slot, requested */ }
//     }
//   };
//   ncdrill::Plugin plugin("/opt/ncdrill/lib/ncdrill/ncdrill.so");
//   Printer printer;
//   ncdrill::Session session = plugin.Open(printer);
//   session.Interpret("T15 M6");
//   session.Interpret("G83 Z-5.");  // Printer::OnDrillBlock runs before this returns
//
// What it takes care of:
// - the callback table, which must stay at one address for the interpreter's
//   life, whatever the host does with its Session;
// - walking the record chain up to, not into, the terminal record, and the
//   circular list of Selections through its sentinel;
// - exceptions: a Handler may throw; the exception is held while the plug-in
//   finishes its call and rethrown once control is back in the host's code,
//   so it never unwinds through the plug-in;
// - order at the end: an interpreter is destroyed before the library that
//   made it is unloaded, and the library stays loaded while any Plugin copy
//   or Session needs it.
//
// Header-only C++17, for Linux (dlopen; link with the `dl` library, which the
// ncdrill::headers CMake target brings) and Windows (LoadLibraryW).

#ifndef NCDRILL_HOST_HPP
#define NCDRILL_HOST_HPP

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "ncdrill/ncdrill.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace ncdrill {

// The plug-in file could not be loaded, or is not an ncdrill plug-in.
// what(): the file's path and the system loader's own message.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace host_detail {
class Library;
class Hub;

// A forward iterator over the plug-in's linked nodes (records, list nodes),
// each of which holds its successor in `next`; `ValueOf` gives what a node
// shows the host.
template <typename Node, typename Value, const Value& (*ValueOf)(const Node&)>
class LinkedIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = Value;
  using difference_type = std::ptrdiff_t;
  using pointer = const Value*;
  using reference = const Value&;

  LinkedIterator() noexcept = default;
  explicit LinkedIterator(const Node* node) noexcept : node_(node) {}
  reference operator*() const noexcept { return ValueOf(*node_); }
  pointer operator->() const noexcept { return &ValueOf(*node_); }
  LinkedIterator& operator++() noexcept {
    node_ = node_->next;
    return *this;
  }
  LinkedIterator operator++(int) noexcept {
    LinkedIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(LinkedIterator a, LinkedIterator b) noexcept { return a.node_ == b.node_; }
  friend bool operator!=(LinkedIterator a, LinkedIterator b) noexcept { return a.node_ != b.node_; }

 private:
  const Node* node_ = nullptr;
};

inline const ChainRecord& RecordOf(const ChainRecord& record) noexcept { return record; }
inline const Selection& SelectionOf(const SelectionNode& node) noexcept { return node.selection; }

}  // namespace host_detail

// One drill block as the plug-in hands it over. It refers to the
// interpreter's own records and Selections, so it is valid during
// Handler::OnDrillBlock only; copy out what you keep.
class DrillBlock {
 public:
  // The table's records in file order, as ChainRecord (number, value); the
  // terminal record that ends the chain is not among them.
  class Records {
   public:
    using iterator = host_detail::LinkedIterator<ChainRecord, ChainRecord, &host_detail::RecordOf>;
    using const_iterator = iterator;

    iterator begin() const noexcept { return iterator(first_); }
    iterator end() const noexcept { return iterator(terminal_); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

   private:
    friend class DrillBlock;
    Records(const ChainRecord* first, const ChainRecord* terminal, std::size_t size) noexcept
        : first_(first), terminal_(terminal), size_(size) {}
    const ChainRecord* first_;
    const ChainRecord* terminal_;
    std::size_t size_;
  };

  // The Selections accepted since the previous drill block, in the order
  // they were accepted, as Selection (slot, requested).
  class Selections {
   public:
    using iterator =
        host_detail::LinkedIterator<SelectionNode, Selection, &host_detail::SelectionOf>;
    using const_iterator = iterator;

    iterator begin() const noexcept {
      return iterator(list_ != nullptr ? list_->sentinel->next : nullptr);
    }
    iterator end() const noexcept { return iterator(list_ != nullptr ? list_->sentinel : nullptr); }
    std::size_t size() const noexcept { return list_ != nullptr ? list_->count : 0; }
    bool empty() const noexcept { return size() == 0; }

   private:
    friend class DrillBlock;
    explicit Selections(const SelectionList* list) noexcept : list_(list) {}
    const SelectionList* list_;
  };

  Records records() const noexcept { return Records(first_, terminal_, recordCount_); }
  // The terminal record's number: minus the number of the table line whose
  // name triggered this drill block (wrapping, so INT32_MIN stays itself).
  std::int32_t terminalNumber() const noexcept {
    return terminal_ != nullptr ? terminal_->number : 0;
  }
  Selections selections() const noexcept { return Selections(list_); }
  // The label the list came with: "Drill block".
  std::string_view label() const noexcept { return label_; }

  DrillBlock(const DrillBlock&) = delete;
  DrillBlock& operator=(const DrillBlock&) = delete;

 private:
  friend class host_detail::Hub;
  DrillBlock(const ChainRecord* first, const SelectionList* list, const char* label) noexcept
      : first_(first), list_(list), label_(label != nullptr ? label : "") {
    // The terminal record is the one whose next is null.
    for (const ChainRecord* record = first; record != nullptr; record = record->next) {
      if (record->next == nullptr) {
        terminal_ = record;
        break;
      }
      ++recordCount_;
    }
    if (terminal_ == nullptr) first_ = nullptr;
    if (list_ != nullptr && list_->sentinel == nullptr) list_ = nullptr;
  }

  const ChainRecord* first_;
  const ChainRecord* terminal_ = nullptr;
  std::size_t recordCount_ = 0;
  const SelectionList* list_;
  std::string_view label_;
};

// What a host does with what the plug-in hands over. Both functions run on
// the thread that called Plugin::Open or Session::Interpret, before that
// call returns. They may throw: the exception comes out of that call.
class Handler {
 public:
  virtual ~Handler() = default;
  // The full path of the definition file: the plug-in's folder followed by
  // the definition file name. Once, during Plugin::Open.
  virtual void OnDefinitionPath(std::string_view /*path*/) {}
  // A block named one of the table's triggers. The handler may call
  // Interpret on the same Session again (a drill block there rewrites the
  // records and empties the list that `block` reads); it must not destroy
  // the Session.
  virtual void OnDrillBlock(const DrillBlock& /*block*/) {}
};

namespace host_detail {

// A loaded plug-in library, unloaded when the last owner lets go of it.
class Library {
 public:
  explicit Library(const std::filesystem::path& file) {
#if defined(_WIN32)
    // A relative name would send LoadLibraryW through the DLL search path.
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(file, error);
    handle_ = ::LoadLibraryW((error ? file : full).c_str());
    if (handle_ == nullptr) {
      throw LoadError("cannot load the ncdrill plug-in " + Text(file) + ": " +
                      SystemMessage(::GetLastError()));
    }
    const FARPROC symbol = ::GetProcAddress(handle_, "GetInterpreter");
#else
    // A name without a folder would be searched for in the library path.
    const std::string name = file.has_parent_path() ? file.string() : "./" + file.string();
    handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      const char* error = ::dlerror();
      std::string_view why = error != nullptr ? error : "unknown reason";
      // The loader's message usually starts with the name it was given.
      if (why.substr(0, name.size() + 2) == name + ": ") why.remove_prefix(name.size() + 2);
      throw LoadError("cannot load the ncdrill plug-in " + Text(file) + ": " + std::string(why));
    }
    void* symbol = ::dlsym(handle_, "GetInterpreter");
#endif
    if (symbol == nullptr) {
      Close();
      throw LoadError(Text(file) + " is not an ncdrill plug-in: it exports no GetInterpreter");
    }
    // Both loaders hand out functions as a generic address.
    static_assert(sizeof symbol == sizeof getInterpreter_, "function addresses differ in size");
    std::memcpy(&getInterpreter_, &symbol, sizeof symbol);
  }
  ~Library() { Close(); }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  GetInterpreterFn getInterpreter() const noexcept { return getInterpreter_; }

 private:
  void Close() noexcept {
#if defined(_WIN32)
    if (handle_ != nullptr) ::FreeLibrary(handle_);
#else
    if (handle_ != nullptr) ::dlclose(handle_);
#endif
    handle_ = nullptr;
  }

#if defined(_WIN32)
  static std::string Text(const std::filesystem::path& file) {
    const std::wstring& wide = file.native();
    if (wide.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                            size, nullptr, nullptr);
    }
    return text;
  }
  static std::string SystemMessage(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string message = length > 0 ? std::string(buffer, length) : std::string();
    if (buffer != nullptr) ::LocalFree(buffer);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
      message.pop_back();
    }
    return message.empty() ? "system error " + std::to_string(code) : message;
  }
  HMODULE handle_ = nullptr;
#else
  static std::string Text(const std::filesystem::path& file) { return file.string(); }
  void* handle_ = nullptr;
#endif
  GetInterpreterFn getInterpreter_ = nullptr;
};

// One interpreter and the callback table it was given, at an address that
// never changes while the interpreter lives.
class Hub {
 public:
  Hub(std::shared_ptr<Library> library, Handler& handler) noexcept
      : library_(std::move(library)), handler_(&handler) {
    table_.context = this;
    table_.putDefinitionPath = &PutDefinitionPath;
    table_.putRecordChain = &PutRecordChain;
    table_.putLabelledList = &PutLabelledList;
    table_.endBlock = &EndBlock;
  }
  // The interpreter goes before the library that made it.
  ~Hub() { delete interpreter_; }
  Hub(const Hub&) = delete;
  Hub& operator=(const Hub&) = delete;

  void Create(const char* definitionFileName, const char* tableFileName) {
    interpreter_ = library_->getInterpreter()(&table_, definitionFileName, tableFileName);
    if (interpreter_ == nullptr) {
      pending_ = nullptr;
      throw std::bad_alloc();
    }
    RethrowPending();
  }

  bool Interpret(std::string_view block) {
    if (block.size() > static_cast<std::size_t>((std::numeric_limits<std::int32_t>::max)())) {
      throw std::length_error("ncdrill: a block is at most 2^31 - 1 characters");
    }
    const bool result =
        interpreter_->InterpretBlock(block.data(), static_cast<std::int32_t>(block.size()));
    RethrowPending();
    return result;
  }

 private:
  void RethrowPending() {
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
  }

  // Runs a handler function and holds what it throws. While an exception is
  // held, the handler is not called again: in plain C++ nothing after the
  // throw would have run either.
  template <typename Call>
  void Guard(Call&& call) {
    if (pending_) return;
    try {
      call();
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
      throw;  // a thread's cancellation must go on unwinding
#endif
    } catch (...) {
      pending_ = std::current_exception();
    }
  }

  static Hub& Of(void* context) noexcept { return *static_cast<Hub*>(context); }

  static void PutDefinitionPath(void* context, const char* path) {
    Hub& hub = Of(context);
    hub.Guard([&] { hub.handler_->OnDefinitionPath(path != nullptr ? path : ""); });
  }
  static void PutRecordChain(void* context, const ChainRecord* first) {
    Of(context).chain_ = first;
  }
  static void PutLabelledList(void* context, const char* label, const SelectionList* list) {
    Hub& hub = Of(context);
    hub.label_ = label;
    hub.list_ = list;
  }
  // The list's nodes are valid until this call returns, so the whole drill
  // block goes to the handler here.
  static void EndBlock(void* context) {
    Hub& hub = Of(context);
    const DrillBlock block(hub.chain_, hub.list_, hub.label_);
    hub.chain_ = nullptr;
    hub.list_ = nullptr;
    hub.label_ = nullptr;
    hub.Guard([&] { hub.handler_->OnDrillBlock(block); });
  }

  std::shared_ptr<Library> library_;  // first in, last out: outlives the interpreter
  Handler* handler_;
  HostCallbacks table_{};
  Interpreter* interpreter_ = nullptr;
  std::exception_ptr pending_;
  const ChainRecord* chain_ = nullptr;
  const SelectionList* list_ = nullptr;
  const char* label_ = nullptr;
};

}  // namespace host_detail

// One interpreter of a loaded plug-in, with its callback table and a share
// of the library. Movable, not copyable. Calls on one Session come from one
// thread at a time; different Sessions share nothing.
class Session {
 public:
  Session(Session&&) noexcept = default;
  Session& operator=(Session&&) noexcept = default;
  ~Session() = default;

  // Interprets one block (InterpretBlock): true when it carried an accepted
  // tool request or "G52". A drill block reaches the Handler before this
  // returns; what the Handler threw is rethrown here. Throws
  // std::logic_error on a moved-from Session.
  bool Interpret(std::string_view block) {
    if (!hub_) throw std::logic_error("ncdrill::Session: used after it was moved from");
    return hub_->Interpret(block);
  }

 private:
  friend class Plugin;
  explicit Session(std::unique_ptr<host_detail::Hub> hub) noexcept : hub_(std::move(hub)) {}
  std::unique_ptr<host_detail::Hub> hub_;
};

// A loaded ncdrill plug-in. Copies share the library, which is unloaded
// when the last copy and the last Session opened from them are gone.
class Plugin {
 public:
  // Loads the plug-in file (dlopen on Linux, LoadLibraryW on Windows); the
  // path is never searched for elsewhere. Throws LoadError.
  explicit Plugin(const std::filesystem::path& file)
      : library_(std::make_shared<host_detail::Library>(file)) {}

  // A new interpreter (GetInterpreter) feeding `handler`, which must outlive
  // the Session. Null or empty names select the plug-in's defaults
  // ("VONDRIX_4.xml" and "VONDRIX_4.txt" beside it). The handler's
  // OnDefinitionPath runs before this returns; what it throws is rethrown
  // here, after the interpreter is destroyed. Throws std::bad_alloc when the
  // plug-in has no memory for an interpreter.
  Session Open(Handler& handler, const char* definitionFileName = nullptr,
               const char* tableFileName = nullptr) const {
    auto hub = std::make_unique<host_detail::Hub>(library_, handler);
    hub->Create(definitionFileName, tableFileName);
    return Session(std::move(hub));
  }

 private:
  std::shared_ptr<host_detail::Library> library_;
};

}  // namespace ncdrill

#endif  // NCDRILL_HOST_HPP
