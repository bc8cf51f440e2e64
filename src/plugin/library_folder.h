#ifndef NCDRILL_PLUGIN_LIBRARY_FOLDER_H
#define NCDRILL_PLUGIN_LIBRARY_FOLDER_H

#include <string>

namespace ncdrill {

// The folder of the loaded ncdrill.so, ending with '/': the full path under
// which the host loaded it, symbolic links not resolved. A library loaded by
// a relative path gives the folder it named at load time, whatever the
// working directory is now. Empty when the loader cannot tell. Throws
// std::bad_alloc when memory runs out.
std::string LibraryFolder();

}  // namespace ncdrill

#endif
