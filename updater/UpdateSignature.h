#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace updater {

// The check that a downloaded program comes from Kestrova, as the version it was published as: its
// signature, kept in a file of its own, is ECDSA on the NIST P-256 curve over the SHA-256 digest of
// the signed bytes, stored as the 64 bytes r‖s (two big-endian 32-byte numbers;
// scripts/sign-update.sh makes it). The signed bytes are the version text as the version file gives
// it (VersionFile::ReadVersionText), one zero byte, then the program's bytes: a program signed for
// one version does not pass as another. Checked with the system's cryptography library (bcrypt).
class UpdateSignature {
public:
    // A public key is the curve point X‖Y, two big-endian 32-byte numbers.
    static constexpr size_t kPublicKeySize = 64;
    static constexpr size_t kSignatureSize = 64;

    // True when the file `signaturePath` holds exactly a valid signature by `publicKey`
    // (kPublicKeySize bytes) of `version` and the program `program`, read from its start through that
    // handle. Anything else is false: an unreadable file, a signature of another length, one of other
    // bytes, of another version or by another key, a key the system refuses.
    static bool Verify(
        HANDLE program, const std::string& version, const std::string& signaturePath, const unsigned char* publicKey);
    // The same for the program file `path`, opened for the check alone.
    static bool Verify(const std::string& path, const std::string& version, const std::string& signaturePath,
        const unsigned char* publicKey);
};

// The one key whose signatures the updater accepts, X‖Y. Each program that contains the update
// dialog links its own definition, generated from a key file when it is built (see
// updater/CMakeLists.txt): the shipped kvupdate trusts only the release key.
extern const unsigned char kTrustedUpdateKey[UpdateSignature::kPublicKeySize];

}  // namespace updater
