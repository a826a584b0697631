#pragma once
#include <cstddef>
#include <string>

namespace updater {

// The check that a downloaded program comes from Kestrova: its signature, kept in a file of its
// own, is ECDSA on the NIST P-256 curve over the SHA-256 digest of the program's bytes, stored as
// the 64 bytes r‖s (two big-endian 32-byte numbers; scripts/sign-update.sh makes it). Checked with
// the system's cryptography library (bcrypt).
class UpdateSignature {
public:
    // A public key is the curve point X‖Y, two big-endian 32-byte numbers.
    static constexpr size_t kPublicKeySize = 64;
    static constexpr size_t kSignatureSize = 64;

    // True when the file `signaturePath` holds exactly a valid signature of the file `path` by
    // `publicKey` (kPublicKeySize bytes). Anything else is false: a missing or unreadable file, a
    // signature of another length, one of other bytes or by another key, a key the system refuses.
    static bool Verify(const std::string& path, const std::string& signaturePath, const unsigned char* publicKey);
};

// The one key whose signatures the updater accepts, X‖Y. Each program that contains the update
// dialog links its own definition, generated from a key file when it is built (see
// updater/CMakeLists.txt): the shipped kvupdate trusts only the release key.
extern const unsigned char kTrustedUpdateKey[UpdateSignature::kPublicKeySize];

}  // namespace updater
