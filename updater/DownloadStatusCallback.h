#pragma once
#include <windows.h>

#include <urlmon.h>

namespace updater {

class BindingSlot;

// The binding status callback of one download: turns the service's progress reports into
// UM_DOWNLOAD_PROGRESS messages for the dialog and carries out the user's stop request. It also
// answers the HTTP negotiation, to see the server's status code: the service reports success for
// an error page (404, 500) and hands it back as the file. Made on the heap with one reference,
// its creator's, for one download; the last Release frees it. The service may hold it past the
// download call: a binding that the dialog's Abort still holds when the download ends is released
// on the dialog's thread, and with it this callback.
class DownloadStatusCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    DownloadStatusCallback(HWND window, HANDLE stopEvent, BindingSlot* binding = nullptr);
    DownloadStatusCallback(const DownloadStatusCallback&) = delete;
    DownloadStatusCallback& operator=(const DownloadStatusCallback&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG maximum, ULONG statusCode, LPCWSTR statusText) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override;

    // IHttpNegotiate
    HRESULT STDMETHODCALLTYPE BeginningTransaction(
        LPCWSTR url, LPCWSTR headers, DWORD reserved, LPWSTR* additionalHeaders) override;
    HRESULT STDMETHODCALLTYPE OnResponse(
        DWORD responseCode, LPCWSTR responseHeaders, LPCWSTR requestHeaders, LPWSTR* additionalRequestHeaders) override;

    ULONG RefCount() const { return static_cast<ULONG>(refCount_); }
    // True once a progress report found the stop event signalled.
    bool StopSeen() const { return stopSeen_; }
    // The last HTTP status the server answered with; 0 when none was seen.
    DWORD HttpStatus() const { return httpStatus_; }
    // True when the server answered with an error status (400 and above).
    bool HttpFailed() const { return httpStatus_ >= 400; }
    // The body size the server announced (the maximum of the data reports, its Content-Length);
    // 0 when it announced none.
    ULONG AnnouncedSize() const { return announcedSize_; }

protected:
    virtual ~DownloadStatusCallback() = default;

private:
    volatile LONG refCount_ = 1;
    HWND window_;
    HANDLE stopEvent_;
    BindingSlot* binding_;
    bool stopSeen_ = false;
    DWORD httpStatus_ = 0;
    ULONG announcedSize_ = 0;
};

}  // namespace updater
