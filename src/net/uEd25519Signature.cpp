#include "net/uEd25519Signature.h"

#include "util/uQmError.h"

#include <cctype>
#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <vector>

namespace {

constexpr std::size_t kSignatureBytes = 64;

struct TFreeKey {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct TFreeBio {
    void operator()(BIO* b) const { BIO_free(b); }
};
struct TFreeMd {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using TKey = std::unique_ptr<EVP_PKEY, TFreeKey>;
using TBio = std::unique_ptr<BIO, TFreeBio>;
using TMdCtx = std::unique_ptr<EVP_MD_CTX, TFreeMd>;

TBio MemoryBio(std::string_view text) {
    return TBio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

bool IsEd25519(const EVP_PKEY* key) {
    return key && EVP_PKEY_get_base_id(key) == EVP_PKEY_ED25519;
}

std::string Base64(const unsigned char* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Decodes the 64 signature bytes; blanks and line ends around the text are allowed.
bool DecodeSignature(std::string_view text, std::vector<unsigned char>& out) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    if (text.size() != 88 || text.substr(86) != "==")
        return false;
    for (const char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '='))
            return false;
    std::vector<unsigned char> buffer(66);
    const int n = EVP_DecodeBlock(buffer.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n != 66)
        return false;
    buffer.resize(kSignatureBytes); // the two padding characters decode to two zero bytes
    out = std::move(buffer);
    return true;
}

} // namespace

bool TEd25519Signature::Verify(std::string_view data, std::string_view signature, std::string_view publicKey,
                               std::string& why) const {
    TBio bio = MemoryBio(publicKey);
    TKey key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!IsEd25519(key.get())) {
        why = "nieczytelny klucz publiczny";
        return false;
    }
    std::vector<unsigned char> raw;
    if (!DecodeSignature(signature, raw)) {
        why = "nieczytelny podpis";
        return false;
    }
    TMdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        why = "błąd biblioteki kryptograficznej";
        return false;
    }
    if (EVP_DigestVerify(ctx.get(), raw.data(), raw.size(),
                         reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
        why = "podpis nie pasuje do pliku";
        return false;
    }
    return true;
}

TEd25519Signature::TKeyPair TEd25519Signature::GenerateKeyPair() {
    TKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key)
        throw EQmError("Nie można utworzyć klucza");
    TBio priv(BIO_new(BIO_s_mem()));
    TBio pub(BIO_new(BIO_s_mem()));
    if (!priv || !pub ||
        PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        PEM_write_bio_PUBKEY(pub.get(), key.get()) != 1)
        throw EQmError("Nie można zapisać klucza");
    return {BioText(priv.get()), BioText(pub.get())};
}

std::string TEd25519Signature::Sign(std::string_view data, std::string_view privateKeyPem) {
    TBio bio = MemoryBio(privateKeyPem);
    TKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!IsEd25519(key.get()))
        throw EQmError("Nieczytelny klucz prywatny Ed25519");
    TMdCtx ctx(EVP_MD_CTX_new());
    unsigned char raw[kSignatureBytes];
    std::size_t size = sizeof raw;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), raw, &size, reinterpret_cast<const unsigned char*>(data.data()),
                       data.size()) != 1)
        throw EQmError("Nie można podpisać pliku");
    return Base64(raw, size);
}
