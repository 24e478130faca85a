#pragma once

// What the stand-in window manager library answers and what it was handed; the test reaches
// the one instance through the exported standin_state().

#include "glass/dwmtypes.h"

struct StandinCall
{
    int count;
    Dwm::HRESULT result;
    Dwm::HWND hwnd;
};

struct StandinState
{
    StandinCall composition, extend, blur, color;
    Dwm::BOOL compositionOn;
    Dwm::DWORD colorValue;
    bool writeOutputs; // false: the functions leave their output arguments as they found them
    Dwm::MARGINS margins;
};

using StandinStateFunction = StandinState *(*)();

constexpr Dwm::HRESULT StandinOk = 0;
constexpr Dwm::HRESULT StandinFalse = 1;
constexpr Dwm::HRESULT StandinFail = static_cast<Dwm::HRESULT>(0x80004005u);
