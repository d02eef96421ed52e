#pragma once
// Detached Ed25519 signatures of signature databases, with OpenSSL 3. Keys are PEM text (PKCS#8
// private, SubjectPublicKeyInfo public); a signature is its 64 bytes in base64 on one line.
#include "platform/IDatabaseSignature.h"

#include <string>
#include <string_view>

class TEd25519Signature : public IDatabaseSignature {
public:
    bool Verify(std::string_view data, std::string_view signature, std::string_view publicKey,
                std::string& why) const override;

    struct TKeyPair {
        std::string PrivatePem;
        std::string PublicPem;
    };
    // Raise EQmError when OpenSSL fails or the key cannot be read.
    static TKeyPair GenerateKeyPair();
    static std::string Sign(std::string_view data, std::string_view privateKeyPem);
};
