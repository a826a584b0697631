// Libraries named like the extraction library, copied as UNZIP32.DLL by the binding's tests.
//
// Built plain, it lacks the entry point. Built with KV_FAKE_PASSWORDS, its entry point asks the
// password callback as the real library does for encrypted members: the "archive" is a text file
// of lines "<member> <password>", each member is asked for at most three times until the answer
// matches, and every answer is appended to "<archive>.asked" as "<member>=<answer>" ("<member>!"
// for none). The result is 0 when every member opened, else 5.
//
// Built with KV_FAKE_NAMES, it has both entry points; each lists one member that tells which was
// called: "old entry", or "page <n>" with the code page that was asked for.
#include "unzip32/unzip32.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

extern "C" __declspec(dllexport) int KestrovaNotTheEntryPoint()
{
    return 0;
}

#ifdef KV_FAKE_NAMES
namespace {
int ListOne(UnzipCallbacks* callbacks, const std::string& name)
{
    if (callbacks == nullptr || callbacks->member == nullptr)
        return UZ_BAD_ARGUMENT;
    callbacks->member(1, 1, 0, 1, 1, 2024, 0, 0, ' ', name.c_str(), "Stored", 0, ' ');
    return UZ_OK;
}
}  // namespace

extern "C" __declspec(dllexport) int UZ_API
    Wiz_SingleEntryUnzip(int, char**, int, char**, UnzipOptions*, UnzipCallbacks* callbacks)
{
    return ListOne(callbacks, "old entry");
}

extern "C" __declspec(dllexport) int UZ_API
    Wiz_SingleEntryUnzipNames(int, char**, int, char**, UnzipOptions*, UnzipCallbacks* callbacks, unsigned namePage)
{
    return ListOne(callbacks, "page " + std::to_string(namePage));
}
#endif

#ifdef KV_FAKE_PASSWORDS
extern "C" __declspec(dllexport) int UZ_API
    Wiz_SingleEntryUnzip(int, char**, int, char**, UnzipOptions* options, UnzipCallbacks* callbacks)
{
    if (options == nullptr || options->archive == nullptr || callbacks == nullptr || callbacks->password == nullptr)
        return UZ_BAD_ARGUMENT;
    std::ifstream script(options->archive);
    if (!script)
        return UZ_NOT_FOUND;
    std::ofstream asked(std::string(options->archive) + ".asked", std::ios::app | std::ios::binary);
    int result = UZ_OK;
    std::string line;
    while (std::getline(script, line)) {
        std::istringstream fields(line);
        std::string member, password;
        if (!(fields >> member >> password))
            continue;
        bool opened = false;
        for (int ask = 0; ask < 3 && !opened; ++ask) {
            // Filled without a NUL: an answer that is not terminated shows as such.
            char buffer[256];
            std::memset(buffer, 'x', sizeof buffer);
            if (callbacks->password(buffer, sizeof buffer, member.c_str(), options->archive) != 0) {
                asked << member << "!\n";
                break;
            }
            const void* end = std::memchr(buffer, '\0', sizeof buffer);
            const std::string answer = end != nullptr ? std::string(buffer) : std::string("<unterminated>");
            asked << member << "=" << answer << "\n";
            opened = answer == password;
        }
        if (!opened)
            result = UZ_PASSWORD;
    }
    return result;
}
#endif
