#pragma once
// The program's cryptography, all of it from libsodium: SHA-256 digests (database passwords,
// release manifests), base64 and the Ed25519 signatures of releases.
#include <cstddef>
#include <stdexcept>
#include <string>

#include <sodium.h>

namespace tesmo::crypto {

class CryptoError : public std::runtime_error {
public:
    explicit CryptoError(const std::string &what) : std::runtime_error(what) {}
};

inline constexpr size_t kPublicKeyBytes = crypto_sign_PUBLICKEYBYTES;
inline constexpr size_t kSecretKeyBytes = crypto_sign_SECRETKEYBYTES;
inline constexpr size_t kSignatureBytes = crypto_sign_BYTES;

// SHA-256 of what is fed in, piece by piece.
class Sha256 {
public:
    Sha256();
    void update(const void *data, size_t size);
    // Lower-case hex of the digest; ends the use of this object.
    std::string hexDigest();

private:
    crypto_hash_sha256_state m_state;
};

// Lower-case hex SHA-256 of `data`.
std::string sha256Hex(const std::string &data);
// Lower-case hex SHA-256 of the file's bytes. Raises CryptoError when it cannot be read.
std::string sha256FileHex(const std::string &path);

// Base64 with padding, the standard alphabet.
std::string toBase64(const std::string &bytes);
// The bytes of a base64 text; blanks and line breaks around it are ignored. Raises
// CryptoError for anything else that is not base64.
std::string fromBase64(const std::string &text);

struct SigningKeyPair {
    std::string secretKey; // kSecretKeyBytes bytes
    std::string publicKey; // kPublicKeyBytes bytes
};
SigningKeyPair newSigningKeyPair();
// The detached Ed25519 signature of `message`. Raises CryptoError for a key of the wrong size.
std::string signDetached(const std::string &message, const std::string &secretKey);
// Whether `signature` is `publicKey`'s signature of `message`; false for anything malformed.
bool verifyDetached(const std::string &message, const std::string &signature,
                    const std::string &publicKey);

} // namespace tesmo::crypto
