#pragma once
// Stand-in for <windows.h> in Linux test builds: only what Quillon's Windows back-end uses, with the
// values of the real header.

#include <cstdint>

#define CALLBACK
#define TRUE 1
#define FALSE 0
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define WM_DEVICECHANGE 0x0219
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3)))
#define GWLP_USERDATA (-21)

typedef int BOOL;
typedef unsigned char BYTE, *LPBYTE;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef std::uint32_t DWORD, ULONG;
typedef std::uintptr_t DWORD_PTR, UINT_PTR, WPARAM;
typedef std::intptr_t LPARAM, LRESULT, LONG_PTR;
typedef wchar_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef void* HDEVNOTIFY;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef std::intptr_t (*FARPROC)();
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

struct GUID
{
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

struct WNDCLASSEXW // the members Quillon sets
{
    UINT cbSize;
    WNDPROC lpfnWndProc;
    HINSTANCE hInstance;
    LPCWSTR lpszClassName;
};

// The calls that need no more than this are carried out here, the others in WinApiSimulation.cpp.
inline thread_local DWORD gSimLastError = 0;
inline WNDPROC gSimWindowProcedure = nullptr;
inline LONG_PTR gSimWindowData = 0;
inline DWORD GetLastError() { return gSimLastError; }
inline void SetLastError(DWORD Error) { gSimLastError = Error; }
inline HMODULE LoadLibraryW(LPCWSTR) { return reinterpret_cast<HMODULE>(&gSimWindowData); }
FARPROC GetProcAddress(HMODULE Module, const char* ProcName);
inline BOOL FreeLibrary(HMODULE) { return TRUE; }
inline void Sleep(DWORD) {} // nothing waits: every output is done at once
inline HDEVNOTIFY RegisterDeviceNotificationW(void* Recipient, void*, DWORD) { return Recipient; }
inline BOOL UnregisterDeviceNotification(HDEVNOTIFY) { return TRUE; }
inline HMODULE GetModuleHandleW(LPCWSTR) { return nullptr; }
// One notification window at a time, made and used on the test's thread.
inline WORD RegisterClassExW(const WNDCLASSEXW* Class) { return (gSimWindowProcedure = Class->lpfnWndProc), 1; }
inline HWND CreateWindowExW(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, void*, HINSTANCE, void*) { return HWND_MESSAGE; }
inline BOOL DestroyWindow(HWND) { return TRUE; }
inline LONG_PTR SetWindowLongPtrW(HWND, int, LONG_PTR Value) { return (gSimWindowData = Value), 0; }
inline LONG_PTR GetWindowLongPtrW(HWND, int) { return gSimWindowData; }
inline LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM) { return 0; }
