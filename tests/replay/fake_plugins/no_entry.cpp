// A loadable library that is not a plug-in: it has no GetInterpreter.
#include "fake_plugins/fake_export.h"

NCDRILL_FAKE_EXPORT int NotAnInterpreter() { return 0; }
