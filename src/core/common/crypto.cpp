#include "core/common/crypto.h"

#include <fstream>

namespace tesmo::crypto {
namespace {

// sodium_init() may run any number of times and from any thread; it only has to run once
// before the first call.
void ensureSodium() {
    static const int ready = sodium_init();
    if (ready < 0)
        throw CryptoError("暗号ライブラリ(libsodium)を初期化できません");
}

std::string hexOf(const unsigned char *bytes, size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

const unsigned char *bytesOf(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

} // namespace

Sha256::Sha256() {
    ensureSodium();
    crypto_hash_sha256_init(&m_state);
}

void Sha256::update(const void *data, size_t size) {
    crypto_hash_sha256_update(&m_state, static_cast<const unsigned char *>(data), size);
}

std::string Sha256::hexDigest() {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&m_state, digest);
    return hexOf(digest, sizeof digest);
}

std::string sha256Hex(const std::string &data) {
    Sha256 h;
    h.update(data.data(), data.size());
    return h.hexDigest();
}

std::string sha256FileHex(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CryptoError("ファイルを開けません: " + path);
    Sha256 h;
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0)
        h.update(buf, static_cast<size_t>(in.gcount()));
    if (in.bad())
        throw CryptoError("ファイルを読めません: " + path);
    return h.hexDigest();
}

std::string toBase64(const std::string &bytes) {
    ensureSodium();
    const int variant = sodium_base64_VARIANT_ORIGINAL;
    std::string text(sodium_base64_encoded_len(bytes.size(), variant), '\0');
    sodium_bin2base64(text.data(), text.size(), bytesOf(bytes), bytes.size(), variant);
    text.resize(text.size() - 1); // the terminating NUL
    return text;
}

std::string fromBase64(const std::string &text) {
    ensureSodium();
    const char *blanks = " \t\r\n";
    const size_t first = text.find_first_not_of(blanks);
    const std::string body = first == std::string::npos
                                 ? std::string()
                                 : text.substr(first, text.find_last_not_of(blanks) - first + 1);
    std::string bytes(body.size() / 4 * 3 + 3, '\0');
    size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(bytes.data()), bytes.size(),
                          body.data(), body.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != body.data() + body.size())
        throw CryptoError("base64 ではありません");
    bytes.resize(length);
    return bytes;
}

SigningKeyPair newSigningKeyPair() {
    ensureSodium();
    SigningKeyPair pair{std::string(kSecretKeyBytes, '\0'), std::string(kPublicKeyBytes, '\0')};
    crypto_sign_keypair(reinterpret_cast<unsigned char *>(pair.publicKey.data()),
                        reinterpret_cast<unsigned char *>(pair.secretKey.data()));
    return pair;
}

std::string signDetached(const std::string &message, const std::string &secretKey) {
    ensureSodium();
    if (secretKey.size() != kSecretKeyBytes)
        throw CryptoError("署名用の秘密鍵の長さが違います");
    std::string signature(kSignatureBytes, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char *>(signature.data()), nullptr,
                         bytesOf(message), message.size(), bytesOf(secretKey));
    return signature;
}

bool verifyDetached(const std::string &message, const std::string &signature,
                    const std::string &publicKey) {
    ensureSodium();
    return signature.size() == kSignatureBytes && publicKey.size() == kPublicKeyBytes &&
           crypto_sign_verify_detached(bytesOf(signature), bytesOf(message), message.size(),
                                       bytesOf(publicKey)) == 0;
}

} // namespace tesmo::crypto
