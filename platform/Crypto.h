#pragma once
// The cryptography NTS needs besides TLS: random bytes nobody can guess, and
// the AEAD algorithm that seals and opens the NTP packets' extension fields.
#include <cstddef>
#include <cstdint>
#include <vector>

class ICrypto {
public:
    virtual ~ICrypto() = default;
    // Bytes from the system's cryptographic random generator.
    virtual std::vector<uint8_t> RandomBytes(size_t count) = 0;
    // The key length of an AEAD algorithm (by its IANA number) that this
    // build can use, or 0 when it cannot.
    virtual size_t AeadKeyLength(uint16_t aead) = 0;
    // Encrypts `plaintext` and authenticates it together with `associated`;
    // false when the algorithm or the key cannot be used.
    virtual bool AeadSeal(uint16_t aead, const std::vector<uint8_t>& key, const std::vector<uint8_t>& nonce,
                          const std::vector<uint8_t>& associated, const std::vector<uint8_t>& plaintext,
                          std::vector<uint8_t>& ciphertext) = 0;
    // The reverse; false when the ciphertext or its associated data are not
    // what was sealed with this key.
    virtual bool AeadOpen(uint16_t aead, const std::vector<uint8_t>& key, const std::vector<uint8_t>& nonce,
                          const std::vector<uint8_t>& associated, const std::vector<uint8_t>& ciphertext,
                          std::vector<uint8_t>& plaintext) = 0;
};

// The real one, over GnuTLS.
ICrypto& SystemCrypto();
