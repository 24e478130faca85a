// A stand-in for the desktop window manager library, so that the glass code can be driven
// through every branch where no such library exists. Built in variants that each lack one
// function, selected by a compile definition.

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
    if (s_state.hook)
        s_state.hook(s_state.hookContext);
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
    s_state.enabledOnEntry = *pfEnabled;
    if (s_state.writeOutputs)
        *pfEnabled = s_state.compositionOn;
    return s_state.composition.result;
}
#endif

#ifndef STANDIN_WITHOUT_EXTEND
STANDIN_EXPORT Dwm::HRESULT DwmExtendFrameIntoClientArea(Dwm::HWND hWnd,
                                                         const Dwm::MARGINS *margins)
{
    enter(s_state.extend, hWnd);
    s_state.margins = *margins;
    return s_state.extend.result;
}
#endif

#ifndef STANDIN_WITHOUT_BLUR
STANDIN_EXPORT Dwm::HRESULT DwmEnableBlurBehindWindow(Dwm::HWND hWnd,
                                                      const Dwm::DWM_BLURBEHIND *blur)
{
    enter(s_state.blur, hWnd);
    s_state.blurBehind = *blur;
    return s_state.blur.result;
}
#endif

#ifndef STANDIN_WITHOUT_COLOR
STANDIN_EXPORT Dwm::HRESULT DwmGetColorizationColor(Dwm::DWORD *colour, Dwm::BOOL *opaqueBlend)
{
    enter(s_state.color);
    s_state.colorOnEntry = *colour;
    s_state.opaqueOnEntry = *opaqueBlend;
    if (s_state.writeOutputs) {
        *colour = s_state.colorValue;
        *opaqueBlend = 1;
    }
    return s_state.color.result;
}
#endif
