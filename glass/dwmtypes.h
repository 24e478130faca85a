#pragma once

// Our own declarations of the window manager library's entry points and structures, so
// the library can be bound at run time on every platform without the vendor's header.
// The layouts and calling convention match the system's: a stand-in library used by the
// tests includes this same header.

#include <cstdint>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#if defined(_WIN32) && !defined(_WIN64)
#define GLASS_DWMAPI __stdcall
#else
#define GLASS_DWMAPI
#endif

namespace Dwm {

using HRESULT = std::int32_t;
using BOOL = int;
using DWORD = std::uint32_t;
using HWND = void *;
using HRGN = void *;

struct MARGINS
{
    int cxLeftWidth;
    int cxRightWidth;
    int cyTopHeight;
    int cyBottomHeight;
};

// DWM_BB_ENABLE, named apart from the system header's macro.
constexpr DWORD BlurBehindEnable = 0x00000001;

// The system declares this structure byte-packed: on 64-bit the handle is not aligned.
#pragma pack(push, 1)
struct DWM_BLURBEHIND
{
    DWORD dwFlags;
    BOOL fEnable;
    HRGN hRgnBlur;
    BOOL fTransitionOnMaximized;
};
#pragma pack(pop)

// The system's WM_DWMCOMPOSITIONCHANGED, named apart from the macro <windows.h> defines.
constexpr unsigned int CompositionChangedMessage = 0x031E;

#if defined(_WIN32)
using MSG = ::MSG;
#else
// Where there are no Windows messages nothing delivers one; the layout lets a caller
// hand the notifier a message all the same.
struct POINT
{
    std::int32_t x;
    std::int32_t y;
};

struct MSG
{
    HWND hwnd;
    unsigned int message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    DWORD time;
    POINT pt;
};
#endif

using PtrDwmIsCompositionEnabled = HRESULT(GLASS_DWMAPI *)(BOOL *pfEnabled);
using PtrDwmExtendFrameIntoClientArea = HRESULT(GLASS_DWMAPI *)(HWND hWnd,
                                                                const MARGINS *pMarInset);
using PtrDwmEnableBlurBehindWindow = HRESULT(GLASS_DWMAPI *)(HWND hWnd,
                                                             const DWM_BLURBEHIND *pBlurBehind);
using PtrDwmGetColorizationColor = HRESULT(GLASS_DWMAPI *)(DWORD *pcrColorization,
                                                           BOOL *pfOpaqueBlend);

inline bool failed(HRESULT hr)
{
    return hr < 0;
}

} // namespace Dwm
