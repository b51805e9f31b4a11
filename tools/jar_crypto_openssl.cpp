// Jar cryptography with OpenSSL's libcrypto (the Linux tool).
#include "jar_crypto.h"

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>

struct JarDigest {
  EVP_MD_CTX *context;
};

JarDigest *StartJarDigest(const std::string &algorithm) {
  // OpenSSL knows the digests by these names.
  const EVP_MD *md = EVP_get_digestbyname(algorithm.c_str());
  if (!md) return nullptr;
  EVP_MD_CTX *context = EVP_MD_CTX_new();
  if (!context || EVP_DigestInit_ex(context, md, nullptr) != 1) {
    EVP_MD_CTX_free(context);
    return nullptr;
  }
  return new JarDigest{context};
}

void UpdateJarDigest(JarDigest *digest, const void *data, size_t size) {
  EVP_DigestUpdate(digest->context, data, size);
}

std::vector<unsigned char> FinishJarDigest(JarDigest *digest) {
  unsigned char bytes[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(digest->context, bytes, &length) != 1) length = 0;
  EVP_MD_CTX_free(digest->context);
  delete digest;
  return std::vector<unsigned char>(bytes, bytes + length);
}

JarSignatureVerdict CheckSignatureBlock(const std::vector<unsigned char> &block,
                                        const std::vector<unsigned char> &content, unsigned long *systemError) {
  *systemError = 0;
  const unsigned char *in = block.data();
  std::unique_ptr<PKCS7, void (*)(PKCS7 *)> p7(d2i_PKCS7(nullptr, &in, (long)block.size()), PKCS7_free);
  if (!p7) return JAR_SIGNATURE_BROKEN;
  std::unique_ptr<BIO, int (*)(BIO *)> data(BIO_new_mem_buf(content.data(), (int)content.size()), BIO_free);
  std::unique_ptr<X509_STORE, void (*)(X509_STORE *)> store(X509_STORE_new(), X509_STORE_free);
  return data && store &&
                 PKCS7_verify(p7.get(), nullptr, store.get(), data.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) == 1
             ? JAR_SIGNATURE_HOLDS
             : JAR_SIGNATURE_BROKEN;
}
