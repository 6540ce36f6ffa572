// Windows backend, image without a C runtime: the lazy-import tables of the system
// libraries other than kernel32 and ntdll. Each function's import slot is defined here,
// so the ordinary calls of these functions go through the lazy loader and the image
// never imports the libraries directly. (Programs linked with the C runtime link the
// import libraries instead and do not get this file.)
#include "r3/win/internal-ldr.h"
#include <commctrl.h>
#include <msi.h>
#include <shellapi.h>
#include <wincrypt.h>

/* One list per library: function and the bytes of arguments it takes (the x86
 * decoration of its import slot, checked against the declared type). */
#define RT_LDRLAZY_MSI_FUNCTIONS(X)                                                                                    \
    X(MSI, MsiInstallProductW, 8)                                                                                      \
    X(MSI, MsiEnableLogW, 12)                                                                                          \
    X(MSI, MsiSetInternalUI, 8)
#define RT_LDRLAZY_CRYPT32_FUNCTIONS(X)                                                                                \
    X(CRYPT32, CertCreateCertificateContext, 12)                                                                       \
    X(CRYPT32, CertOpenStore, 20)                                                                                      \
    X(CRYPT32, CertFreeCertificateContext, 4)                                                                          \
    X(CRYPT32, CertAddCertificateContextToStore, 16)                                                                   \
    X(CRYPT32, CertCloseStore, 8)
#define RT_LDRLAZY_USER32_FUNCTIONS(X)                                                                                 \
    X(USER32, MessageBoxW, 16)                                                                                         \
    X(USER32, MessageBoxA, 16)                                                                                         \
    X(USER32, GetDesktopWindow, 0)
#define RT_LDRLAZY_SHELL32_FUNCTIONS(X) X(SHELL32, SHFileOperationW, 4)
/* The common-controls version comes from the application manifest (side-by-side). */
#define RT_LDRLAZY_COMCTL32_FUNCTIONS(X) X(COMCTL32, InitCommonControlsEx, 4)

RT_LDRLAZY_LIBRARY(MSI, "MSI.DLL")
RT_LDRLAZY_LIBRARY(CRYPT32, "CRYPT32.DLL")
RT_LDRLAZY_LIBRARY(USER32, "USER32.DLL")
RT_LDRLAZY_LIBRARY(SHELL32, "SHELL32.DLL")
RT_LDRLAZY_LIBRARY(COMCTL32, "COMCTL32.DLL")

RT_LDRLAZY_MSI_FUNCTIONS(RT_LDRLAZY_IMPORT)
RT_LDRLAZY_CRYPT32_FUNCTIONS(RT_LDRLAZY_IMPORT)
RT_LDRLAZY_USER32_FUNCTIONS(RT_LDRLAZY_IMPORT)
RT_LDRLAZY_SHELL32_FUNCTIONS(RT_LDRLAZY_IMPORT)
RT_LDRLAZY_COMCTL32_FUNCTIONS(RT_LDRLAZY_IMPORT)
