// Certificates for the installer to trust: DER or PEM X.509 files, checked for their
// structure and stored as DER, and their subject for listings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

/** Reads a certificate file: DER as it is, PEM converted to DER. ERR_INVALID_PARAMETER
 *  with the reason when it is not exactly one X.509 certificate. */
int ReadCertificateFile(const std::vector<uint8_t> &File, std::vector<uint8_t> *pDer, std::string *pstrWhy);
/** One X.509 certificate filling the bytes exactly (structure only: no signature or
 *  validity is checked; the installer's platform does that when it adds it). */
bool IsX509Certificate(const uint8_t *pb, size_t cb);
/** The subject as "CN=..., O=..."; empty when it cannot be read. */
std::string CertificateSubject(const uint8_t *pb, size_t cb);
