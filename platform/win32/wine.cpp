#include "wine.h"

#include <windows.h>

bool UnderWine() {
    // Wine's ntdll exports its version; Windows' never has.
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}
