// Jar cryptography with the system's own: CNG (bcrypt.dll) for the digests,
// CryptoAPI (crypt32.dll) for the PKCS #7 signature (the Windows tool, which
// has no OpenSSL).
#include "jar_crypto.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

struct JarDigest {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
  DWORD length;  // of the digest, in bytes
};

JarDigest *StartJarDigest(const std::string &algorithm) {
  // The algorithms that both CNG and the JDK know.
  const wchar_t *id = algorithm == "SHA1"     ? BCRYPT_SHA1_ALGORITHM
                      : algorithm == "SHA256" ? BCRYPT_SHA256_ALGORITHM
                      : algorithm == "SHA384" ? BCRYPT_SHA384_ALGORITHM
                      : algorithm == "SHA512" ? BCRYPT_SHA512_ALGORITHM
                      : algorithm == "MD5"    ? BCRYPT_MD5_ALGORITHM
                                              : nullptr;
  if (!id) return nullptr;
  JarDigest digest = {};
  ULONG got = 0;
  if (BCryptOpenAlgorithmProvider(&digest.algorithm, id, nullptr, 0) < 0) return nullptr;
  if (BCryptGetProperty(digest.algorithm, BCRYPT_HASH_LENGTH, (PUCHAR)&digest.length, sizeof digest.length, &got,
                        0) < 0 ||
      BCryptCreateHash(digest.algorithm, &digest.hash, nullptr, 0, nullptr, 0, 0) < 0) {
    BCryptCloseAlgorithmProvider(digest.algorithm, 0);
    return nullptr;
  }
  return new JarDigest(digest);
}

void UpdateJarDigest(JarDigest *digest, const void *data, size_t size) {
  const unsigned char *at = (const unsigned char *)data;
  while (size > 0) {
    ULONG piece = size > 0x40000000 ? 0x40000000 : (ULONG)size;
    BCryptHashData(digest->hash, (PUCHAR)at, piece, 0);
    at += piece;
    size -= piece;
  }
}

std::vector<unsigned char> FinishJarDigest(JarDigest *digest) {
  std::vector<unsigned char> bytes(digest->length);
  if (BCryptFinishHash(digest->hash, bytes.data(), digest->length, 0) < 0) bytes.clear();
  BCryptDestroyHash(digest->hash);
  BCryptCloseAlgorithmProvider(digest->algorithm, 0);
  delete digest;
  return bytes;
}

JarSignatureVerdict CheckSignatureBlock(const std::vector<unsigned char> &block,
                                        const std::vector<unsigned char> &content, unsigned long *systemError) {
  *systemError = 0;
  const DWORD encoding = PKCS_7_ASN_ENCODING | X509_ASN_ENCODING;
  if (block.empty() || block.size() > 0x7FFFFFFF || content.size() > 0x7FFFFFFF) return JAR_SIGNATURE_BROKEN;
  LONG signers = CryptGetMessageSignerCount(encoding, block.data(), (DWORD)block.size());
  if (signers <= 0) return JAR_SIGNATURE_BROKEN;
  CRYPT_VERIFY_MESSAGE_PARA para = {};
  para.cbSize = sizeof para;
  para.dwMsgAndCertEncodingType = encoding;
  static const BYTE kNothing = 0;
  const BYTE *parts[1] = {content.empty() ? &kNothing : content.data()};
  DWORD sizes[1] = {(DWORD)content.size()};
  // Every signer, each with its certificate from the block's own store.  A
  // signature or digest that does not match is a broken signature; any other
  // failure (a key or signature algorithm the system lacks) leaves the
  // signature unchecked, which the caller reports as such.
  for (LONG i = 0; i < signers; i++) {
    if (CryptVerifyDetachedMessageSignature(&para, (DWORD)i, block.data(), (DWORD)block.size(), 1, parts, sizes,
                                            nullptr))
      continue;
    DWORD code = GetLastError();
    if (code == (DWORD)NTE_BAD_SIGNATURE || code == (DWORD)CRYPT_E_HASH_VALUE) return JAR_SIGNATURE_BROKEN;
    *systemError = code;
    return JAR_SIGNATURE_UNCHECKABLE;
  }
  return JAR_SIGNATURE_HOLDS;
}
