#include "updater/BindingSlot.h"
#include "updater/DownloadStatusCallback.h"
#include "updater/DownloadWorker.h"
#include "updater/ProgressRecord.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using updater::DownloadStatusCallback;

// A message-only window that records the progress messages it receives.
class ProgressSink {
public:
    struct Seen {
        bool stop;
        updater::ProgressRecord record;
        std::wstring text;
    };

    ProgressSink()
    {
        WNDCLASSA windowClass {};
        windowClass.lpfnWndProc = &Proc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "KvProgressSink";
        ::RegisterClassA(&windowClass);
        hwnd = ::CreateWindowExA(
            0, "KvProgressSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ::GetModuleHandleA(nullptr), nullptr);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ProgressSink() { ::DestroyWindow(hwnd); }

    HWND hwnd;
    std::vector<Seen> seen;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<ProgressSink*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (msg == updater::UM_DOWNLOAD_PROGRESS && self != nullptr) {
            if (lParam == 0) {
                self->seen.push_back({true, {}, L""});
            } else {
                const auto& record = *reinterpret_cast<const updater::ProgressRecord*>(lParam);
                self->seen.push_back({false, record, record.statusText ? record.statusText : L""});
            }
            return 0;
        }
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
};

// The callback as the worker holds it: made on the heap, its creator's reference dropped at the end.
class Made {
public:
    explicit Made(HWND window = nullptr, HANDLE stop = nullptr) : callback_(new DownloadStatusCallback(window, stop)) { }
    Made(const Made&) = delete;
    Made& operator=(const Made&) = delete;
    ~Made() { callback_->Release(); }
    DownloadStatusCallback* operator->() const { return callback_; }
    DownloadStatusCallback* get() const { return callback_; }

private:
    DownloadStatusCallback* callback_;
};

TEST(DownloadStatusCallback, InterfacesAndReferenceCount)
{
    Made made;
    DownloadStatusCallback& callback = *made.get();
    EXPECT_EQ(callback.RefCount(), 1u);
    void* object = nullptr;
    EXPECT_EQ(callback.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<IBindStatusCallback*>(&callback));
    EXPECT_EQ(callback.QueryInterface(IID_IBindStatusCallback, &object), S_OK);
    EXPECT_EQ(object, static_cast<IBindStatusCallback*>(&callback));
    EXPECT_EQ(callback.QueryInterface(IID_IHttpNegotiate, &object), S_OK);
    EXPECT_EQ(object, static_cast<IHttpNegotiate*>(&callback));
    EXPECT_EQ(callback.RefCount(), 4u);
    object = &callback;
    EXPECT_EQ(callback.QueryInterface(IID_IStream, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(callback.Release(), 3u);
    EXPECT_EQ(callback.Release(), 2u);
    EXPECT_EQ(callback.Release(), 1u);

    LONG priority = 0;
    EXPECT_EQ(callback.GetPriority(&priority), E_NOTIMPL);
    DWORD flags = 0;
    BINDINFO info {};
    EXPECT_EQ(callback.GetBindInfo(&flags, &info), S_OK);
    EXPECT_EQ(flags, static_cast<DWORD>(BINDF_GETNEWESTVERSION));
}

// The service may keep its reference after the download call has returned and the worker has
// dropped its own (a binding the dialog was aborting): the callback stays usable until the last
// reference goes, and that one frees it (the sanitizers' build sees a leak or a double free).
TEST(DownloadStatusCallback, OutlivesItsCreatorWhileTheServiceHoldsIt)
{
    auto* callback = new DownloadStatusCallback(nullptr, nullptr);
    IBindStatusCallback* held = nullptr;
    ASSERT_EQ(callback->QueryInterface(IID_IBindStatusCallback, reinterpret_cast<void**>(&held)), S_OK);
    EXPECT_EQ(callback->Release(), 1u);  // the worker's reference
    EXPECT_EQ(held->OnStopBinding(E_ABORT, nullptr), S_OK);
    EXPECT_EQ(held->OnProgress(1, 2, BINDSTATUS_DOWNLOADINGDATA, L""), S_OK);
    EXPECT_EQ(held->Release(), 0u);
}

TEST(DownloadStatusCallback, ProgressIsSentAndTheStopEventIsConsumedOnce)
{
    ProgressSink sink;
    HANDLE stop = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    Made made(sink.hwnd, stop);
    DownloadStatusCallback& callback = *made.get();

    EXPECT_EQ(callback.OnProgress(10, 100, 5, L"http://host/update.exe"), S_OK);
    EXPECT_EQ(callback.OnProgress(0, 0, 0, nullptr), S_OK);
    EXPECT_EQ(callback.OnProgress(0, 0, 30, L""), S_OK);
    ASSERT_EQ(sink.seen.size(), 3u);
    EXPECT_EQ(sink.seen[0].record.progress, 10u);
    EXPECT_EQ(sink.seen[0].record.maximum, 100u);
    EXPECT_EQ(sink.seen[0].record.statusCode, 5u);
    EXPECT_EQ(sink.seen[0].text, L"http://host/update.exe");
    EXPECT_EQ(sink.seen[1].record.statusCode, 25u);
    EXPECT_EQ(sink.seen[2].record.statusCode, 25u);
    EXPECT_FALSE(callback.StopSeen());

    ::SetEvent(stop);
    EXPECT_EQ(callback.OnProgress(20, 100, 5, L""), E_ABORT);
    ASSERT_EQ(sink.seen.size(), 5u);
    EXPECT_FALSE(sink.seen[3].stop);
    EXPECT_TRUE(sink.seen[4].stop);
    EXPECT_TRUE(callback.StopSeen());
    EXPECT_EQ(::WaitForSingleObject(stop, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // Asked again at the next report, without a second "Canceled." line.
    EXPECT_EQ(callback.OnProgress(30, 100, 6, L""), E_ABORT);
    EXPECT_EQ(sink.seen.size(), 6u);
    EXPECT_FALSE(sink.seen[5].stop);
    ::CloseHandle(stop);
}

TEST(DownloadStatusCallback, HttpErrorStatusIsNoted)
{
    Made made;
    DownloadStatusCallback& callback = *made.get();
    EXPECT_EQ(callback.HttpStatus(), 0u);
    LPWSTR extra = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(callback.OnResponse(200, L"", L"", &extra), S_OK);
    EXPECT_EQ(extra, nullptr);
    EXPECT_FALSE(callback.HttpFailed());
    EXPECT_EQ(callback.OnResponse(404, L"", L"", nullptr), S_OK);
    EXPECT_TRUE(callback.HttpFailed());
    EXPECT_EQ(callback.HttpStatus(), 404u);
}

// The announced size is the Content-Length the data reports carry; other reports do not count.
TEST(DownloadStatusCallback, AnnouncedSizeComesFromTheDataReports)
{
    Made made;
    DownloadStatusCallback& callback = *made.get();
    EXPECT_EQ(callback.AnnouncedSize(), 0u);
    callback.OnProgress(0, 999, BINDSTATUS_CONNECTING, L"");
    EXPECT_EQ(callback.AnnouncedSize(), 0u);
    callback.OnProgress(100, 5000, BINDSTATUS_BEGINDOWNLOADDATA, L"");
    callback.OnProgress(2500, 5000, BINDSTATUS_DOWNLOADINGDATA, L"");
    callback.OnProgress(2500, 5000, BINDSTATUS_ENDDOWNLOADDATA, L"");
    EXPECT_EQ(callback.AnnouncedSize(), 5000u);
}

TEST(DownloadWorker, AFileShorterThanAnnouncedIsNotWhole)
{
    testsupport::TestFolder folder;
    folder.WriteFile("part.bin", std::string(100, 'x'));
    folder.MakeFolder("sub");
    EXPECT_TRUE(updater::IsWholeDownload(folder.Child("part.bin"), 100));
    EXPECT_TRUE(updater::IsWholeDownload(folder.Child("part.bin"), 0)) << "nothing announced";
    EXPECT_TRUE(updater::IsWholeDownload(folder.Child("part.bin"), 60)) << "decoded bodies grow";
    EXPECT_FALSE(updater::IsWholeDownload(folder.Child("part.bin"), 101));
    EXPECT_FALSE(updater::IsWholeDownload(folder.Child("missing.bin"), 0));
    EXPECT_FALSE(updater::IsWholeDownload(folder.Child("sub"), 0));
}

}  // namespace
