#include "platform/Crypto.h"

#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <cstdlib>

namespace {

constexpr uint16_t AeadAesSivCmac256 = 15;

// RFC 5297's AES-SIV with a 256-bit key: two AES-128 keys, one for the
// CMAC and one for the counter mode, hence GnuTLS's name AES-128-SIV. The
// synthetic IV comes first in the ciphertext, as RFC 5297 writes it.
gnutls_cipher_algorithm_t CipherFor(uint16_t aead)
{
    return aead == AeadAesSivCmac256 ? GNUTLS_CIPHER_AES_128_SIV : GNUTLS_CIPHER_UNKNOWN;
}

// Nettle's SIV asserts a nonce of at least one byte, and an empty one in a
// server's answer must fail the answer, not end the program.
constexpr size_t MinNonceSize = 1;

class CAead {
public:
    CAead(uint16_t aead, const std::vector<uint8_t>& key)
    {
        const gnutls_cipher_algorithm_t cipher = CipherFor(aead);
        if (cipher == GNUTLS_CIPHER_UNKNOWN || key.size() != gnutls_cipher_get_key_size(cipher))
            return;
        gnutls_datum_t datum{const_cast<uint8_t*>(key.data()), static_cast<unsigned>(key.size())};
        if (gnutls_aead_cipher_init(&m_handle, cipher, &datum) < 0)
            m_handle = nullptr;
        m_tagSize = gnutls_cipher_get_tag_size(cipher);
    }
    ~CAead()
    {
        if (m_handle)
            gnutls_aead_cipher_deinit(m_handle);
    }
    CAead(const CAead&) = delete;
    CAead& operator=(const CAead&) = delete;

    bool Seal(const std::vector<uint8_t>& nonce, const std::vector<uint8_t>& associated,
              const std::vector<uint8_t>& plaintext, std::vector<uint8_t>& out)
    {
        if (!m_handle || nonce.size() < MinNonceSize)
            return false;
        out.resize(plaintext.size() + m_tagSize);
        size_t length = out.size();
        if (gnutls_aead_cipher_encrypt(m_handle, nonce.data(), nonce.size(), associated.data(), associated.size(),
                                       m_tagSize, plaintext.data(), plaintext.size(), out.data(), &length) < 0)
            return false;
        out.resize(length);
        return true;
    }

    bool Open(const std::vector<uint8_t>& nonce, const std::vector<uint8_t>& associated,
              const std::vector<uint8_t>& ciphertext, std::vector<uint8_t>& out)
    {
        if (!m_handle || nonce.size() < MinNonceSize || ciphertext.size() < m_tagSize)
            return false;
        out.resize(ciphertext.size() - m_tagSize);
        size_t length = out.size();
        if (gnutls_aead_cipher_decrypt(m_handle, nonce.data(), nonce.size(), associated.data(), associated.size(),
                                       m_tagSize, ciphertext.data(), ciphertext.size(), out.data(), &length) < 0)
            return false;
        out.resize(length);
        return true;
    }

private:
    gnutls_aead_cipher_hd_t m_handle = nullptr;
    size_t m_tagSize = 0;
};

class CGnuTlsCrypto : public ICrypto {
public:
    std::vector<uint8_t> RandomBytes(size_t count) override
    {
        std::vector<uint8_t> bytes(count);
        if (count > 0 && gnutls_rnd(GNUTLS_RND_RANDOM, bytes.data(), count) < 0)
            std::abort(); // no random numbers: nothing secure can be built on
        return bytes;
    }

    size_t AeadKeyLength(uint16_t aead) override
    {
        const gnutls_cipher_algorithm_t cipher = CipherFor(aead);
        return cipher == GNUTLS_CIPHER_UNKNOWN ? 0 : gnutls_cipher_get_key_size(cipher);
    }

    bool AeadSeal(uint16_t aead, const std::vector<uint8_t>& key, const std::vector<uint8_t>& nonce,
                  const std::vector<uint8_t>& associated, const std::vector<uint8_t>& plaintext,
                  std::vector<uint8_t>& ciphertext) override
    {
        return CAead(aead, key).Seal(nonce, associated, plaintext, ciphertext);
    }

    bool AeadOpen(uint16_t aead, const std::vector<uint8_t>& key, const std::vector<uint8_t>& nonce,
                  const std::vector<uint8_t>& associated, const std::vector<uint8_t>& ciphertext,
                  std::vector<uint8_t>& plaintext) override
    {
        return CAead(aead, key).Open(nonce, associated, ciphertext, plaintext);
    }
};

} // namespace

ICrypto& SystemCrypto()
{
    static CGnuTlsCrypto crypto;
    return crypto;
}
