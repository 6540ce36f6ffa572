// "%R[name]": types registered by name. This runtime registers none, so the table is
// empty and every name prints in the missing form; the lookup is kept so that the
// directive behaves the same once a table exists.
#include <atomic>
#include <olma/string.h>
#include "common/string/internal-formatrt.h"

namespace {

struct RTSTRDYNFMT {
    uint8_t cchType;
    char szType[47];
    PFNRTSTRFORMATTYPE pfnHandler;
    void *pvUser;
};

/** Sorted by name. */
constexpr const RTSTRDYNFMT *g_paTypes = nullptr;
constexpr uint32_t g_cTypes = 0;

const RTSTRDYNFMT *rtStrFmtTypeLookup(const char *pchName, size_t cchName) {
    uint32_t iStart = 0;
    uint32_t iEnd = g_cTypes;
    while (iStart < iEnd) {
        const uint32_t i = iStart + (iEnd - iStart) / 2;
        const RTSTRDYNFMT &Type = g_paTypes[i];
        const size_t cchCmp = Type.cchType < cchName ? Type.cchType : cchName;
        int iDiff = __builtin_memcmp(Type.szType, pchName, cchCmp);
        if (!iDiff)
            iDiff = Type.cchType < cchName ? -1 : Type.cchType > cchName ? 1 : 0;
        if (!iDiff)
            return &Type;
        if (iDiff < 0)
            iStart = i + 1;
        else
            iEnd = i;
    }
    return nullptr;
}

} // namespace

size_t rtstrFormatType(PFNRTSTROUTPUT pfnOutput, void *pvArgOutput, const char **ppszFormat, va_list *pArgs,
                       int cchWidth, int cchPrecision, unsigned fFlags) {
    const char *pszName = *ppszFormat + 1; // past the '['
    const char *psz = pszName;
    while (*psz != ']') {
        // A name that runs into the end of the format or into another directive is
        // no name at all; the text from there on is printed as it stands.
        if (*psz == '\0' || *psz == '%' || *psz == '[') {
            *ppszFormat = psz;
            return 0;
        }
        psz++;
    }
    *ppszFormat = psz + 1;
    const size_t cchName = (size_t)(psz - pszName);
    const void *pvValue = va_arg(*pArgs, const void *);

    if (const RTSTRDYNFMT *pType = rtStrFmtTypeLookup(pszName, cchName)) {
        PFNRTSTRFORMATTYPE pfnHandler = pType->pfnHandler;
        void *pvUser = pType->pvUser;
        // The entry may have been filled in by another thread just now.
        std::atomic_thread_fence(std::memory_order_seq_cst);
        return pfnHandler(pfnOutput, pvArgOutput, pType->szType, pvValue, cchWidth, cchPrecision, fFlags, pvUser);
    }

    RTSTRFMTRTOUT Out(pfnOutput, pvArgOutput);
    Out.put("<missing:%R[", 12);
    Out.put(pszName, cchName);
    Out.put("]>", 2);
    return Out.done();
}
