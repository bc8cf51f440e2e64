// The few parts of the Windows API and of msvcrt.dll the Microsoft-ABI host
// uses, declared as the system's own headers declare them. (mingw's
// windows.h is written for g++ and does not compile in clang's Microsoft
// mode; the host needs nothing else.)
#ifndef NCDRILL_TESTS_WINDOWS_WIN32_H
#define NCDRILL_TESTS_WINDOWS_WIN32_H

#include <stdarg.h>
#include <stddef.h>

typedef unsigned long DWORD;
typedef int BOOL;
typedef void* HANDLE;
typedef void* HMODULE;
typedef unsigned int UINT;
typedef long long INT64;

struct MEMORY_BASIC_INFORMATION {
  void* BaseAddress;
  void* AllocationBase;
  DWORD AllocationProtect;
  size_t RegionSize;
  DWORD State;
  DWORD Protect;
  DWORD Type;
};

constexpr DWORD kStdOutputHandle = static_cast<DWORD>(-11);
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kCreateAlways = 2;
constexpr DWORD kMemCommit = 0x1000;
constexpr DWORD kMemPrivate = 0x20000;
constexpr UINT kCodePageAnsi = 0;
#define NCDRILL_INVALID_HANDLE (reinterpret_cast<HANDLE>(static_cast<INT64>(-1)))

#define NCDRILL_WINAPI extern "C" __declspec(dllimport)
NCDRILL_WINAPI HANDLE __stdcall GetStdHandle(DWORD which);
NCDRILL_WINAPI BOOL __stdcall WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written,
                                        void* overlapped);
NCDRILL_WINAPI HANDLE __stdcall CreateFileW(const wchar_t* name, DWORD access, DWORD share,
                                            void* security, DWORD disposition, DWORD flags,
                                            HANDLE model);
NCDRILL_WINAPI BOOL __stdcall CloseHandle(HANDLE handle);
NCDRILL_WINAPI BOOL __stdcall CopyFileW(const wchar_t* from, const wchar_t* to, BOOL failIfExists);
NCDRILL_WINAPI BOOL __stdcall DeleteFileW(const wchar_t* name);
NCDRILL_WINAPI BOOL __stdcall CreateDirectoryW(const wchar_t* name, void* security);
NCDRILL_WINAPI BOOL __stdcall RemoveDirectoryW(const wchar_t* name);
NCDRILL_WINAPI DWORD __stdcall GetTempPathW(DWORD size, wchar_t* buffer);
NCDRILL_WINAPI DWORD __stdcall GetCurrentProcessId();
NCDRILL_WINAPI void __stdcall ExitProcess(UINT code);
NCDRILL_WINAPI const wchar_t* __stdcall GetCommandLineW();
NCDRILL_WINAPI HMODULE __stdcall LoadLibraryW(const wchar_t* name);
NCDRILL_WINAPI BOOL __stdcall FreeLibrary(HMODULE module);
NCDRILL_WINAPI void* __stdcall GetProcAddress(HMODULE module, const char* name);
NCDRILL_WINAPI HMODULE __stdcall GetModuleHandleW(const wchar_t* name);
NCDRILL_WINAPI DWORD __stdcall GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);
NCDRILL_WINAPI DWORD __stdcall GetModuleFileNameW(HMODULE module, wchar_t* buffer, DWORD size);
NCDRILL_WINAPI UINT __stdcall GetACP();
NCDRILL_WINAPI int __stdcall WideCharToMultiByte(UINT codePage, DWORD flags, const wchar_t* wide,
                                                 int wideSize, char* bytes, int size,
                                                 const char* defaultChar, BOOL* usedDefault);
NCDRILL_WINAPI int __stdcall MultiByteToWideChar(UINT codePage, DWORD flags, const char* bytes,
                                                 int size, wchar_t* wide, int wideSize);
NCDRILL_WINAPI size_t __stdcall VirtualQuery(const void* address, MEMORY_BASIC_INFORMATION* info,
                                             size_t size);
#undef NCDRILL_WINAPI

// msvcrt.dll, which the plug-in's runtime allocates from as well.
struct HeapInfo {  // _HEAPINFO
  int* entry;
  size_t size;
  int useFlag;
};
constexpr int kHeapOk = -2;
constexpr int kUsedEntry = 1;
extern "C" {
int __cdecl _heapwalk(HeapInfo* info);
int __cdecl _vsnprintf(char* buffer, size_t size, const char* format, va_list arguments);
int __cdecl _snprintf(char* buffer, size_t size, const char* format, ...);
void* __cdecl memcpy(void* to, const void* from, size_t size);
void* __cdecl memset(void* to, int value, size_t size);
int __cdecl memcmp(const void* a, const void* b, size_t size);
size_t __cdecl strlen(const char* text);
int __cdecl strcmp(const char* a, const char* b);
int __cdecl _stricmp(const char* a, const char* b);
int __cdecl _strnicmp(const char* a, const char* b, size_t size);
size_t __cdecl wcslen(const wchar_t* text);
}

#endif
