// Calls into the host's callback table. The context and each slot are read
// at the moment of the call, because the host may change its table between
// calls; a null table or a null slot means "no callback".
//
// The table holds plain C functions. Should one throw all the same, the
// exception ends at the call: it never unwinds through the plug-in's frames
// into the host's. Only a thread's cancellation goes on unwinding.
#ifndef NCDRILL_INTERPRET_HOST_CALLS_H
#define NCDRILL_INTERPRET_HOST_CALLS_H

#include <cxxabi.h>

#include "ncdrill/ncdrill.h"

namespace ncdrill {

template <typename Callback, typename... Args>
void CallHost(const HostCallbacks* host, Callback HostCallbacks::*slot, Args... args) {
  if (host == nullptr) return;
  const Callback callback = host->*slot;
  if (callback == nullptr) return;
  try {
    callback(host->context, args...);
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
  }
}

inline void CallPutDefinitionPath(const HostCallbacks* host, const char* path) {
  CallHost(host, &HostCallbacks::putDefinitionPath, path);
}

inline void CallPutRecordChain(const HostCallbacks* host, const ChainRecord* first) {
  CallHost(host, &HostCallbacks::putRecordChain, first);
}

inline void CallPutLabelledList(const HostCallbacks* host, const char* label,
                                const SelectionList* list) {
  CallHost(host, &HostCallbacks::putLabelledList, label, list);
}

inline void CallEndBlock(const HostCallbacks* host) { CallHost(host, &HostCallbacks::endBlock); }

}  // namespace ncdrill

#endif
