// A stand-in for the desktop window manager library, so the glass code can be driven
// through every branch on a system that has no such library. Built in several variants,
// each lacking one function, selected by a compile definition.

#include "tests/glass/dwmapistandin.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

StandinState s_state = [] {
    StandinState state{};
    state.compositionOn = 1;
    state.writeOutputs = true;
    return state;
}();

void enter(StandinCall &call)
{
    ++call.count;
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
                                                         const Dwm::MARGINS *pMarInset)
{
    enter(s_state.extend);
    s_state.extend.hwnd = hWnd;
    s_state.margins = *pMarInset;
    return s_state.extend.result;
}
#endif

#ifndef STANDIN_WITHOUT_BLUR
STANDIN_EXPORT Dwm::HRESULT DwmEnableBlurBehindWindow(Dwm::HWND hWnd,
                                                      const Dwm::DWM_BLURBEHIND *pBlurBehind)
{
    enter(s_state.blur);
    s_state.blur.hwnd = hWnd;
    s_state.blurBehind = *pBlurBehind;
    return s_state.blur.result;
}
#endif

#ifndef STANDIN_WITHOUT_COLOR
STANDIN_EXPORT Dwm::HRESULT DwmGetColorizationColor(Dwm::DWORD *pcrColorization,
                                                    Dwm::BOOL *pfOpaqueBlend)
{
    enter(s_state.color);
    s_state.colorOnEntry = *pcrColorization;
    s_state.opaqueOnEntry = *pfOpaqueBlend;
    if (s_state.writeOutputs) {
        *pcrColorization = s_state.colorValue;
        *pfOpaqueBlend = 1;
    }
    return s_state.color.result;
}
#endif
