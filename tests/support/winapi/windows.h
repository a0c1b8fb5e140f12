#pragma once
// Stand-in for <windows.h> in Linux test builds: only the types, constants and functions that
// Quillon's Windows back-end uses, with the sizes and values of the real header. The functions are
// carried out by the simulation in WinApiSimulation.cpp; tests steer it through cWinApiSimulation.

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef unsigned short WORD;
typedef std::uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef unsigned int UINT;
typedef std::uint32_t ULONG;
typedef std::int32_t LONG;
typedef std::uintptr_t DWORD_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t LRESULT;
typedef char* LPSTR;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef void* PVOID;
typedef void* HANDLE;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef std::intptr_t(WINAPI* FARPROC)();

struct POINT
{
    LONG x;
    LONG y;
};

struct MSG
{
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct GUID
{
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

// Errors, per thread, as the kernel keeps them.
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD Error);
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_ALREADY_EXISTS 183L

HMODULE WINAPI LoadLibraryW(LPCWSTR FileName);
FARPROC WINAPI GetProcAddress(HMODULE Module, const char* ProcName);
BOOL WINAPI FreeLibrary(HMODULE Module);
void WINAPI Sleep(DWORD Milliseconds);

// Device-change notifications (winuser.h).
#define WM_DEVICECHANGE 0x0219
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
typedef PVOID HDEVNOTIFY;
HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE Recipient, LPVOID NotificationFilter, DWORD Flags);
BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle);

// Message-only windows (winuser.h): the class, the window, its user data, its default procedure.
typedef WORD ATOM;
typedef std::intptr_t LONG_PTR;
typedef struct HMENU__* HMENU;
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
struct WNDCLASSEXW // the members Quillon sets
{
    UINT cbSize;
    WNDPROC lpfnWndProc;
    HINSTANCE hInstance;
    LPCWSTR lpszClassName;
};
#define HWND_MESSAGE (reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3)))
#define GWLP_USERDATA (-21)
#define ERROR_CLASS_ALREADY_EXISTS 1410L
HMODULE WINAPI GetModuleHandleW(LPCWSTR ModuleName);
ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* Class);
HWND WINAPI CreateWindowExW(DWORD ExStyle, LPCWSTR ClassName, LPCWSTR WindowName, DWORD Style, int X, int Y, int Width,
                            int Height, HWND Parent, HMENU Menu, HINSTANCE Instance, LPVOID Param);
BOOL WINAPI DestroyWindow(HWND Window);
LONG_PTR WINAPI SetWindowLongPtrW(HWND Window, int Index, LONG_PTR Value);
LONG_PTR WINAPI GetWindowLongPtrW(HWND Window, int Index);
LRESULT WINAPI DefWindowProcW(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
