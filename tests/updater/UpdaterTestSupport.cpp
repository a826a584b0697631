#include "tests/updater/UpdaterTestSupport.h"

#include "resources/kvupdate/resource.h"
#include "updater/ElevatedReplacement.h"
#include "updater/ProgramReplacer.h"
#include "updater/UpdateDialog.h"
#include "updater/UpdateLocation.h"
#include "updater/UpdateSignature.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace updatertest {

namespace {

const char kDialogCaption[] = "KVA Update Downloader 1.0";

std::string Environment(const char* name)
{
    char buffer[MAX_PATH] = {};
    DWORD length = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

}  // namespace

TestSite::TestSite()
{
    std::string host = Environment("KESTROVA_TEST_SERVER");
    if (host.empty())
        return;
    std::string root = testsupport::FromHost(host);
    std::string portText;
    if (!testsupport::ReadFileBytes(root + "\\port", portText))
        return;
    port_ = std::atoi(portText.c_str());
    static int counter = 0;
    name_ = "t" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter) + "_" +
        std::to_string(::GetTickCount());
    folder_ = root + "\\www\\" + name_;
    ::CreateDirectoryA((root + "\\www").c_str(), nullptr);
    ::CreateDirectoryA(folder_.c_str(), nullptr);
}

std::string TestSite::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name_ + "/";
}

void TestSite::Put(const std::string& name, const std::string& bytes) const
{
    testsupport::WriteFileBytes(folder_ + "\\" + name, bytes);
}

void TestSite::PutSignedProgram(const std::string& version, const std::string& program) const
{
    Put(updater::UpdateLocation::kVersionFileName, version);
    Put(updater::UpdateLocation::kProgramFileName, program);
    Put(updater::UpdateLocation::kSignatureFileName, TestSignature(version, program));
}

void TestSite::Mark(const std::string& name, const std::string& marker, const std::string& content) const
{
    testsupport::WriteFileBytes(folder_ + "\\" + name + "." + marker, content);
}

std::string FakeProgram(size_t size, char seed)
{
    std::string bytes(0x80 + size, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x40;
    bytes.replace(0x40, 4, std::string("PE\0\0", 4));
    // The file header's machine: the kind of program this build installs.
    bytes[0x44] = static_cast<char>(updater::ProgramReplacer::kOwnMachine & 0xFF);
    bytes[0x45] = static_cast<char>(updater::ProgramReplacer::kOwnMachine >> 8);
    for (size_t i = 0x80; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(seed + static_cast<char>(i * 7 % 251));
    return bytes;
}

std::string TestSignature(const std::string& version, const std::string& bytes)
{
    const size_t half = updater::UpdateSignature::kPublicKeySize / 2;
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 3 * half] = {};
    BCRYPT_ECCKEY_BLOB header {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, static_cast<ULONG>(half)};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, updater::kTrustedUpdateKey, 2 * half);
    std::memcpy(blob + sizeof header + 2 * half, kTestPrivateKey, half);

    unsigned char digest[32] = {};
    unsigned char signature[updater::UpdateSignature::kSignatureSize] = {};
    ULONG length = 0;
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCRYPT_ALG_HANDLE ecdsa = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    std::string copy = version.substr(0, 6);
    copy = copy.substr(0, copy.find('\0')) + '\0' + bytes;
    PUCHAR input = reinterpret_cast<PUCHAR>(&copy[0]);
    bool done = BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(::BCryptCreateHash(sha256, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(::BCryptHashData(hash, input, static_cast<ULONG>(copy.size()), 0)) &&
        BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, sizeof digest, 0)) &&
        BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(::BCryptImportKeyPair(ecdsa, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key, blob, sizeof blob, 0)) &&
        BCRYPT_SUCCESS(::BCryptSignHash(key, nullptr, digest, sizeof digest, signature, sizeof signature, &length, 0));
    if (key != nullptr)
        ::BCryptDestroyKey(key);
    if (ecdsa != nullptr)
        ::BCryptCloseAlgorithmProvider(ecdsa, 0);
    if (hash != nullptr)
        ::BCryptDestroyHash(hash);
    if (sha256 != nullptr)
        ::BCryptCloseAlgorithmProvider(sha256, 0);
    // An empty signature fails every check that expects a valid one, loudly enough.
    return done && length == sizeof signature ? std::string(reinterpret_cast<char*>(signature), length) : std::string();
}

std::string TestKeyFolder()
{
    return testsupport::BinFolder() + "..\\update-test-key\\";
}

DialogThread::DialogThread(const std::string& updater)
{
    thread_ = std::thread([this, updater] {
        updater::UpdateDialog dialog(updater.empty() ? updater::ElevatedReplacement::UpdaterPath() : updater);
        result_ = dialog.DoModal(nullptr);
        done_ = true;
    });
    testsupport::WaitUntil(
        [this] {
            HWND window = nullptr;
            while ((window = ::FindWindowExA(nullptr, window, "#32770", kDialogCaption)) != nullptr) {
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                if (owner == ::GetCurrentProcessId() && ::IsWindowVisible(window)) {
                    hwnd_ = window;
                    return true;
                }
            }
            return false;
        },
        10000, kPollMs);
}

DialogThread::~DialogThread()
{
    if (!done_ && hwnd_ != nullptr) {
        if (Caption() == "Stop")
            Click();
        // The failure message of the stopped download, if any, is answered by the test's recorder;
        // keep closing until the dialog has gone.
        testsupport::WaitUntil(
            [this] {
                if (done_)
                    return true;
                SystemClose();
                return false;
            },
            15000, kPollMs);
    }
    if (thread_.joinable()) {
        if (done_)
            thread_.join();
        else
            thread_.detach();  // never seen: a hung dialog; the process ends with the test program
    }
}

std::string DialogThread::Caption() const
{
    return ItemText(IDC_UPDATE_ACTION);
}

void DialogThread::Click() const
{
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(Item(IDC_UPDATE_ACTION), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

// Posted to the focused button, as the keyboard would deliver it: the modal loop's dialog
// navigation turns it into the Cancel command.
void DialogThread::PressEscape() const
{
    ::PostMessageA(Item(IDC_UPDATE_ACTION), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageA(Item(IDC_UPDATE_ACTION), WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

void DialogThread::SystemClose() const
{
    ::PostMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool DialogThread::IsCloseGreyed() const
{
    UINT state = ::GetMenuState(::GetSystemMenu(hwnd_, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_GRAYED) != 0;
}

int DialogThread::ProgressPosition() const
{
    DWORD_PTR position = 0;
    ::SendMessageTimeoutA(Item(IDC_UPDATE_PROGRESS), PBM_GETPOS, 0, 0, SMTO_NORMAL, 2000, &position);
    return static_cast<int>(position);
}

bool DialogThread::WaitClosed(DWORD timeoutMs) const
{
    return testsupport::WaitUntil([this] { return done_.load(); }, timeoutMs, kPollMs);
}

BoxRecorder::BoxRecorder(const DialogThread& dialog)
    : MessageBoxWatcher(
          std::vector<int> {IDOK}, std::string(), 0, [&dialog] { return dialog.ItemText(IDC_UPDATE_LOG); })
{
}

std::string BoxRecorder::Summary() const
{
    std::string summary;
    for (const testsupport::SeenBox& box : Seen())
        summary += "[" + box.text + "]\n";
    return summary;
}

}  // namespace updatertest
