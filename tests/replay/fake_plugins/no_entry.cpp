// A loadable library that is not a plug-in: it has no GetInterpreter.
extern "C" __attribute__((visibility("default"))) int NotAnInterpreter() { return 0; }
