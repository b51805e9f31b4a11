// The cryptography of signed jars, behind one small interface: the digests
// that manifests and signature files name, and the check that a signature
// block (PKCS #7 signed data, detached) signs a signature file.  OpenSSL's
// libcrypto where the build has it (jar_crypto_openssl.cpp), the system's
// CryptoAPI and CNG on Windows (jar_crypto_win32.cpp).
#ifndef SATCHEL_JAR_CRYPTO_H
#define SATCHEL_JAR_CRYPTO_H

#include <stddef.h>

#include <string>
#include <vector>

// A digest being computed.
struct JarDigest;

// Starts a digest of the algorithm a jar names, in upper case without
// dashes ("SHA256", "SHA1", "MD5", ...; the caller turns "SHA-256" and "SHA"
// into these).  Null when the algorithm is one
// this build does not know: the jar's digests of that algorithm are not
// checked, as the JDK passes over algorithms it does not know.
JarDigest *StartJarDigest(const std::string &algorithm);
void UpdateJarDigest(JarDigest *digest, const void *data, size_t size);
// The digest's bytes; frees the digest.
std::vector<unsigned char> FinishJarDigest(JarDigest *digest);

// Whether the signature block, PKCS #7 signed data in DER, holds a valid
// signature of `content` by each of its signers, with the signers'
// certificates as the block carries them; the certificates are not checked
// against any trust anchor (the JDK does not either when it runs a jar).
enum JarSignatureVerdict {
  JAR_SIGNATURE_HOLDS,
  JAR_SIGNATURE_BROKEN,       // a signature does not match, or the block is no signed data
  JAR_SIGNATURE_UNCHECKABLE,  // the system cannot check it (an algorithm it lacks); *systemError says why
};
JarSignatureVerdict CheckSignatureBlock(const std::vector<unsigned char> &block,
                                        const std::vector<unsigned char> &content, unsigned long *systemError);

#endif  // SATCHEL_JAR_CRYPTO_H
