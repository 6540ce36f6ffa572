// Adding the maker's certificate to a certificate store of the machine.
#pragma once

#include <olma/cdefs.h>

/** Store location of the local machine, as the run passes it. */
constexpr uint32_t TESKSTUB_CERT_STORE_LOCAL_MACHINE = 0x20000;

/**
 * Adds a DER certificate to the named system store at the given location, replacing a
 * copy that is already there. True when the certificate is in the store; the reason
 * of a failure is written on the standard error stream.
 */
bool AddCertificateToStore(uint32_t uStoreLocation, const char *pszStoreName, const void *pvCertificate,
                           uint32_t cbCertificate);
