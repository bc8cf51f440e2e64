#include "platform/native_path.h"

namespace ncdrill::platform {

NativePath NativePathFrom8Bit(std::string_view text) { return NativePath(text); }

}  // namespace ncdrill::platform
