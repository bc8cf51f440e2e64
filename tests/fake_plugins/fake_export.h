// How a stand-in plug-in exports its functions, on every system.
#ifndef NCDRILL_TESTS_FAKE_PLUGINS_FAKE_EXPORT_H
#define NCDRILL_TESTS_FAKE_PLUGINS_FAKE_EXPORT_H

#if defined(_WIN32)
#define NCDRILL_FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define NCDRILL_FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

#endif
