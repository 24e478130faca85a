// A stand-in for the desktop window manager library, so that the glass code can be driven
// through every branch where no such library exists. One variant lacks the marker function.

#include "tests/glass/dwmapistandin.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

StandinState s_state = [] {
    StandinState state{};
    state.compositionOn = 1;
    state.writeOutputs = true;
    return state;
}();

void enter(StandinCall &call, Dwm::HWND hwnd = nullptr)
{
    ++call.count;
    call.hwnd = hwnd;
}

} // namespace

STANDIN_EXPORT StandinState *standin_state()
{
    return &s_state;
}

#ifndef STANDIN_WITHOUT_COMPOSITION
STANDIN_EXPORT Dwm::HRESULT DwmIsCompositionEnabled(Dwm::BOOL *pfEnabled)
{
    enter(s_state.composition);
    if (s_state.writeOutputs)
        *pfEnabled = s_state.compositionOn;
    return s_state.composition.result;
}
#endif

STANDIN_EXPORT Dwm::HRESULT DwmExtendFrameIntoClientArea(Dwm::HWND hWnd,
                                                         const Dwm::MARGINS *margins)
{
    enter(s_state.extend, hWnd);
    s_state.margins = *margins;
    return s_state.extend.result;
}

STANDIN_EXPORT Dwm::HRESULT DwmEnableBlurBehindWindow(Dwm::HWND hWnd, const Dwm::DWM_BLURBEHIND *)
{
    enter(s_state.blur, hWnd);
    return s_state.blur.result;
}

STANDIN_EXPORT Dwm::HRESULT DwmGetColorizationColor(Dwm::DWORD *colour, Dwm::BOOL *opaqueBlend)
{
    enter(s_state.color);
    if (s_state.writeOutputs) {
        *colour = s_state.colorValue;
        *opaqueBlend = 1;
    }
    return s_state.color.result;
}
