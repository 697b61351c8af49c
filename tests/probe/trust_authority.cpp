// Puts a certificate authority into the current user's root store, or takes it out again, for the
// tests of the Windows checker's --post under Wine:
//
//   trust_authority add FILE.pem
//   trust_authority remove FILE.pem
//
// The store is written in the registry (HKCU\Software\Microsoft\SystemCertificates\Root), where
// every later program of the Wine prefix finds it, as an admin adds an authority to a prefix. The
// system store "Root" itself cannot be used for this under Wine: it takes the certificate, but
// only for the process that adds it, and keeps no removal. On Windows itself the registry store
// bypasses the confirmation the system asks for, so the tests run this under Wine alone.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "add" && std::string(argv[1]) != "remove")) {
    std::fprintf(stderr, "usage: trust_authority add|remove FILE.pem\n");
    return 2;
  }
  std::ifstream file(argv[2], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr,
                                           &size, nullptr, nullptr)) {
    std::fprintf(stderr, "trust_authority: %s holds no certificate\n", argv[2]);
    return 1;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                       nullptr);
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (store == nullptr) {
    std::fprintf(stderr, "trust_authority: the root store cannot be opened (%lu)\n",
                 GetLastError());
    return 1;
  }
  bool done = false;
  if (std::string(argv[1]) == "add") {
    done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
  } else {
    PCCERT_CONTEXT authority = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    done = authority != nullptr;
    // Every copy: a run that was stopped half-way may have added it twice.
    while (authority != nullptr) {
      PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                        CERT_FIND_EXISTING, authority, nullptr);
      if (found == nullptr) break;
      if (!CertDeleteCertificateFromStore(found)) {
        done = false;
        break;
      }
    }
    if (authority != nullptr) CertFreeCertificateContext(authority);
  }
  // The registry store writes what changed when it is closed.
  done = CertCloseStore(store, 0) != FALSE && done;
  if (!done) std::fprintf(stderr, "trust_authority: %s failed (%lu)\n", argv[1], GetLastError());
  return done ? 0 : 1;
}
