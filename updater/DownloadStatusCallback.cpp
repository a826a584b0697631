#include "updater/DownloadStatusCallback.h"

#include "updater/BindingSlot.h"
#include "updater/ProgressRecord.h"

namespace updater {

namespace {

const ULONG kLastStatusCode = 24;
const ULONG kUnknownStatusCode = 25;

}  // namespace

DownloadStatusCallback::DownloadStatusCallback(HWND window, HANDLE stopEvent, BindingSlot* binding)
    : window_(window), stopEvent_(stopEvent), binding_(binding)
{
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
        *object = static_cast<IBindStatusCallback*>(this);
    } else if (IsEqualIID(iid, IID_IHttpNegotiate)) {
        *object = static_cast<IHttpNegotiate*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE DownloadStatusCallback::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&refCount_));
}

ULONG STDMETHODCALLTYPE DownloadStatusCallback::Release()
{
    const LONG count = ::InterlockedDecrement(&refCount_);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

// The binding is kept (when there is a slot) so that a stop can abort a download that has gone
// silent.
HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnStartBinding(DWORD, IBinding* binding)
{
    if (binding_ != nullptr)
        binding_->Set(binding);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::GetPriority(LONG*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnLowResource(DWORD)
{
    return S_OK;
}

// Reports progress to the dialog (which reads the record while this waits), then polls the
// auto-reset stop event: one signal is consumed by one check.
HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnProgress(
    ULONG progress, ULONG maximum, ULONG statusCode, LPCWSTR statusText)
{
    if (statusCode == 0 || statusCode > kLastStatusCode)
        statusCode = kUnknownStatusCode;
    if ((statusCode == BINDSTATUS_BEGINDOWNLOADDATA || statusCode == BINDSTATUS_DOWNLOADINGDATA ||
            statusCode == BINDSTATUS_ENDDOWNLOADDATA) &&
        maximum > announcedSize_)
        announcedSize_ = maximum;
    if (window_ != nullptr) {
        ProgressRecord record {progress, maximum, statusCode, statusText};
        ::SendMessageA(window_, UM_DOWNLOAD_PROGRESS, 0, reinterpret_cast<LPARAM>(&record));
    }
    if (stopEvent_ != nullptr && ::WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) {
        stopSeen_ = true;
        if (window_ != nullptr)
            ::SendMessageA(window_, UM_DOWNLOAD_PROGRESS, 0, 0);
        return E_ABORT;
    }
    // Wine ignores E_ABORT at some status codes (begin and end of the data, the cache file name):
    // once a stop was seen, every later report asks again, and the worker treats the download as
    // stopped whatever the service answers.
    if (stopSeen_)
        return E_ABORT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnStopBinding(HRESULT, LPCWSTR)
{
    if (binding_ != nullptr)
        binding_->Clear();
    return S_OK;
}

// Asks for the newest copy from the server rather than one from the download cache: a stale
// version file would hide a new version.
HRESULT STDMETHODCALLTYPE DownloadStatusCallback::GetBindInfo(DWORD* flags, BINDINFO*)
{
    if (flags != nullptr)
        *flags |= BINDF_GETNEWESTVERSION;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnObjectAvailable(REFIID, IUnknown*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::BeginningTransaction(
    LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders)
{
    if (additionalHeaders != nullptr)
        *additionalHeaders = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DownloadStatusCallback::OnResponse(
    DWORD responseCode, LPCWSTR, LPCWSTR, LPWSTR* additionalRequestHeaders)
{
    if (additionalRequestHeaders != nullptr)
        *additionalRequestHeaders = nullptr;
    httpStatus_ = responseCode;
    return S_OK;
}

}  // namespace updater
