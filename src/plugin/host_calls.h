// Calls into the host's callback table. The context and each slot are read
// at the moment of the call, because the host may change its table between
// calls; a null table or a null slot means "no callback".
#ifndef NCDRILL_PLUGIN_HOST_CALLS_H
#define NCDRILL_PLUGIN_HOST_CALLS_H

#include "ncdrill/ncdrill.h"

namespace ncdrill {

inline void CallPutDefinitionPath(const HostCallbacks* host, const char* path) {
  if (host == nullptr) return;
  const auto callback = host->putDefinitionPath;
  if (callback != nullptr) callback(host->context, path);
}

inline void CallPutRecordChain(const HostCallbacks* host, const ChainRecord* first) {
  if (host == nullptr) return;
  const auto callback = host->putRecordChain;
  if (callback != nullptr) callback(host->context, first);
}

inline void CallPutLabelledList(const HostCallbacks* host, const char* label,
                                const SelectionList* list) {
  if (host == nullptr) return;
  const auto callback = host->putLabelledList;
  if (callback != nullptr) callback(host->context, label, list);
}

inline void CallEndBlock(const HostCallbacks* host) {
  if (host == nullptr) return;
  const auto callback = host->endBlock;
  if (callback != nullptr) callback(host->context);
}

}  // namespace ncdrill

#endif
