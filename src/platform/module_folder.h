// Where the plug-in's own library file lies: the folder its definition file
// and its table are found in.
#ifndef NCDRILL_PLATFORM_MODULE_FOLDER_H
#define NCDRILL_PLATFORM_MODULE_FOLDER_H

#include <string>

#include "platform/native_path.h"

namespace ncdrill::platform {

// The folder of the library file that holds this code (not the host's
// executable), as it was loaded, ending with the system's path separator.
// Both members are empty when the system cannot tell; names are then taken
// as they stand.
struct ModuleFolder {
  std::string text;   // 8-bit, as the host is handed it in the definition path
  NativePath native;  // the same folder as the system opens files by it
};

// Throws std::bad_alloc when memory runs out.
ModuleFolder FindModuleFolder();

}  // namespace ncdrill::platform

#endif
