#include "window_shot.h"

#include <wincodec.h>

#include <vector>

namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
struct ComRef {
    T *p = nullptr;
    ~ComRef() {
        if (p) p->Release();
    }
    T **operator&() { return &p; }
    T *operator->() const { return p; }
};

}  // namespace

bool SaveWindowPicture(HWND hwnd, const std::wstring &path) {
    RECT rect;
    if (!GetWindowRect(hwnd, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    // What the screen shows: the frame the system draws is part of the picture.
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap) {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top,
                        SRCCOPY | CAPTUREBLT) != FALSE;
        SelectObject(memory, old);
        GdiFlush();
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied) {
        if (bitmap) DeleteObject(bitmap);
        return false;
    }
    // The screen has no alpha: make every pixel opaque.
    auto *pixels = static_cast<BYTE *>(bits);
    for (size_t i = 0; i < static_cast<size_t>(width) * static_cast<size_t>(height); ++i)
        pixels[i * 4 + 3] = 0xFF;

    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool saved = false;
    {
        ComRef<IWICImagingFactory> factory;
        ComRef<IWICStream> stream;
        ComRef<IWICBitmapEncoder> encoder;
        ComRef<IWICBitmapFrameEncode> frame;
        WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
        const UINT stride = static_cast<UINT>(width) * 4;
        saved = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IWICImagingFactory,
                                           reinterpret_cast<void **>(&factory))) &&
                SUCCEEDED(factory->CreateStream(&stream)) &&
                SUCCEEDED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
                SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
                SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
                SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
                SUCCEEDED(frame->Initialize(nullptr)) &&
                SUCCEEDED(frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height))) &&
                SUCCEEDED(frame->SetPixelFormat(&format)) &&
                format == GUID_WICPixelFormat32bppBGRA &&
                SUCCEEDED(frame->WritePixels(static_cast<UINT>(height), stride,
                                             stride * static_cast<UINT>(height), pixels)) &&
                SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    }
    if (SUCCEEDED(init)) CoUninitialize();
    DeleteObject(bitmap);
    return saved;
}
