// Adds the test CA (a DER file) to the Wine prefix's machine-wide Root store,
// which Wine's certificate chain engine consults for WinHTTP's server checks.
// Exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: trust_ca CA.der\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (der.empty()) {
        std::fwprintf(stderr, L"trust_ca: cannot read %ls\n", argv[1]);
        return 1;
    }
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr) {
        std::fwprintf(stderr, L"trust_ca: CertOpenStore failed: %lu\n", ::GetLastError());
        return 1;
    }
    const BOOL added = ::CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    const DWORD code = ::GetLastError();
    ::CertCloseStore(store, 0);
    if (!added) {
        std::fwprintf(stderr, L"trust_ca: CertAddEncodedCertificateToStore failed: %lu\n", code);
        return 1;
    }
    return 0;
}
