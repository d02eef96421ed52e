#pragma once
// Port: detached signatures of signature databases (Ed25519 over the file's exact bytes). Keys and
// signatures are text: a PEM public key, a base64 signature on one line.
#include <string>
#include <string_view>

class IDatabaseSignature {
public:
    virtual ~IDatabaseSignature() = default;
    // True when signature is a valid signature of data by publicKey. A key or signature that cannot
    // be read is a failure too; why then says what was wrong (Polish).
    virtual bool Verify(std::string_view data, std::string_view signature, std::string_view publicKey,
                        std::string& why) const = 0;
};
