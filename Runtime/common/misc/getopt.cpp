// The option parser: walks a UTF-8 argument vector against a table of option
// definitions and returns one option at a time with its value converted.
#include <olma/getopt.h>
#include <olma/string.h>

namespace {

constexpr int32_t RTGETOPT_HELD_BACK_ALL = INT32_MAX;

// Built-in options, searched after the caller's table.
constexpr RTOPTDEF g_aStdOptions[] = {
    {"--help", 'h', RTOPT_TYPE_NONE},
    {"-help", 'h', RTOPT_TYPE_NONE},
    {"--version", 'V', RTOPT_TYPE_NONE},
    {"-version", 'V', RTOPT_TYPE_NONE},
};

// Typographic dashes that word processors put where a '-' was meant.
bool rtGetOptIsDashCp(RTUNICP uCp) {
    switch (uCp) {
    case '-':
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2212:
    case 0xfe58:
    case 0xfe63:
    case 0xff0d:
        return true;
    default:
        return false;
    }
}

// If psz starts with '-' or one of the dash look-alikes, returns its length in bytes, else 0.
size_t rtGetOptDashLen(const char *psz) {
    if (*psz == '-')
        return 1;
    if ((uint8_t)*psz < 0x80)
        return 0;
    const char *pszNext = psz;
    RTUNICP uCp = 0;
    if (RT_FAILURE(RTStrGetCpEx(&pszNext, &uCp)) || !rtGetOptIsDashCp(uCp))
        return 0;
    return (size_t)(pszNext - psz);
}

bool rtGetOptIsAsciiLetter(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}
char rtGetOptLower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? (char)(ch + 32) : ch;
}
bool rtGetOptIsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}
bool rtGetOptIsHexDigit(char ch) {
    return rtGetOptIsDigit(ch) || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

enum class RTGETOPTMATCH { None, Prefix, Full };

// Matches a definition's long name against the start of an argument; *pcbMatched gets
// the argument bytes the name covered.
RTGETOPTMATCH rtGetOptMatchLong(const char *pszName, const char *pszArg, uint32_t fFlags, size_t *pcbMatched) {
    size_t offArg = 0;
    for (size_t offName = 0; pszName[offName]; offName++) {
        const char chName = pszName[offName];
        const char chArg = pszArg[offArg];
        if (chArg == chName) {
            offArg++;
            continue;
        }
        if (chName == '-') {
            const size_t cbDash = rtGetOptDashLen(&pszArg[offArg]);
            if (!cbDash)
                return RTGETOPTMATCH::None;
            offArg += cbDash;
            continue;
        }
        if ((fFlags & RTOPT_F_ICASE) && rtGetOptIsAsciiLetter(chName) && rtGetOptIsAsciiLetter(chArg) &&
            rtGetOptLower(chName) == rtGetOptLower(chArg)) {
            offArg++;
            continue;
        }
        return RTGETOPTMATCH::None;
    }
    *pcbMatched = offArg;
    return pszArg[offArg] == '\0' ? RTGETOPTMATCH::Full : RTGETOPTMATCH::Prefix;
}

// Does one definition match the whole argument as a long option? *poffValue gets the
// offset of the index digits or the value separator.
bool rtGetOptMatchDef(const RTOPTDEF *pDef, const char *pszArg, size_t *poffValue) {
    if (!pDef->longName)
        return false;
    size_t cb = 0;
    const RTGETOPTMATCH enmMatch = rtGetOptMatchLong(pDef->longName, pszArg, pDef->flags, &cb);
    if (enmMatch == RTGETOPTMATCH::None)
        return false;
    const uint32_t fType = pDef->flags & RTOPT_TYPE_MASK;
    if (fType == RTOPT_TYPE_NONE && !(pDef->flags & RTOPT_F_INDEX)) {
        *poffValue = cb;
        return enmMatch == RTGETOPTMATCH::Full;
    }
    size_t off = cb;
    if (pDef->flags & RTOPT_F_INDEX_DASH) {
        const size_t cbDash = rtGetOptDashLen(&pszArg[off]);
        if (cbDash && rtGetOptIsDigit(pszArg[off + cbDash]))
            off += cbDash;
    }
    const size_t offValue = off;
    if (pDef->flags & RTOPT_F_INDEX)
        while (rtGetOptIsDigit(pszArg[off]))
            off++;
    const char ch = pszArg[off];
    if (fType == RTOPT_TYPE_NONE) {
        if (ch != '\0')
            return false;
    } else if (ch != '\0' && ch != ':' && ch != '=')
        return false;
    *poffValue = offValue;
    return true;
}

const RTOPTDEF *rtGetOptSearchLong(const RTOPTSTATE *pState, const char *pszArg, size_t *poffValue) {
    for (int32_t i = 0; i < pState->optionCount; i++)
        if (rtGetOptMatchDef(&pState->options[i], pszArg, poffValue))
            return &pState->options[i];
    if (!(pState->initFlags & RTOPT_INIT_NO_STD_OPTS))
        for (const RTOPTDEF &Def : g_aStdOptions)
            if (rtGetOptMatchDef(&Def, pszArg, poffValue))
                return &Def;
    return nullptr;
}

const RTOPTDEF *rtGetOptSearchShort(const RTOPTSTATE *pState, char ch) {
    for (int32_t i = 0; i < pState->optionCount; i++)
        if (pState->options[i].id == (int32_t)(int8_t)ch)
            return &pState->options[i];
    if (!(pState->initFlags & RTOPT_INIT_NO_STD_OPTS)) {
        if (ch == 'h' || ch == '?')
            return &g_aStdOptions[0];
        if (ch == 'V')
            return &g_aStdOptions[2];
    }
    return nullptr;
}

// Moves argv[iFrom] down to argv[iTo] (iTo <= iFrom), shifting the entries between up.
void rtGetOptRotate(char **papsz, int32_t iTo, int32_t iFrom) {
    char *pszMoved = papsz[iFrom];
    for (int32_t i = iFrom; i > iTo; i--)
        papsz[i] = papsz[i - 1];
    papsz[iTo] = pszMoved;
}

int32_t rtGetOptHeldBack(const RTOPTSTATE *pState) {
    return pState->heldBack == RTGETOPT_HELD_BACK_ALL ? 0 : pState->heldBack;
}

bool rtGetOptIsIntegerType(uint32_t fType) {
    return fType >= RTOPT_TYPE_INT8 && fType <= RTOPT_TYPE_UINT64;
}
bool rtGetOptIsPairType(uint32_t fType) {
    return fType >= RTOPT_TYPE_UINT32_PAIR && fType <= RTOPT_TYPE_UINT64_OPTPAIR;
}

// Whole-value integer conversion in one base: plain success or nothing.
int rtGetOptConvertInteger(uint32_t fType, const char *pszValue, unsigned uBase, RTOPTVALUE *pValue) {
    int rc;
    switch (fType) {
    case RTOPT_TYPE_INT8:
        rc = RTStrToInt8Full(pszValue, uBase, &pValue->i8);
        break;
    case RTOPT_TYPE_UINT8:
        rc = RTStrToUInt8Full(pszValue, uBase, &pValue->u8);
        break;
    case RTOPT_TYPE_INT16:
        rc = RTStrToInt16Full(pszValue, uBase, &pValue->i16);
        break;
    case RTOPT_TYPE_UINT16:
        rc = RTStrToUInt16Full(pszValue, uBase, &pValue->u16);
        break;
    case RTOPT_TYPE_INT32:
        rc = RTStrToInt32Full(pszValue, uBase, &pValue->i32);
        break;
    case RTOPT_TYPE_UINT32:
        rc = RTStrToUInt32Full(pszValue, uBase, &pValue->u32);
        break;
    case RTOPT_TYPE_INT64:
        rc = RTStrToInt64Full(pszValue, uBase, &pValue->i64);
        break;
    default:
        rc = RTStrToUInt64Full(pszValue, uBase, &pValue->u64);
        break;
    }
    return rc == 0 ? 0 : ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
}

bool rtGetOptHasHexPrefix(const char *psz) {
    return psz[0] == '0' && (psz[1] == 'x' || psz[1] == 'X') && rtGetOptIsHexDigit(psz[2]);
}

// Base of one number of a pair.
unsigned rtGetOptPairBase(uint32_t fFlags, const char *psz) {
    if (fFlags & RTOPT_F_HEX)
        return 16;
    if (rtGetOptHasHexPrefix(psz))
        return 16;
    if (fFlags & RTOPT_F_OCT)
        return 8;
    return 10;
}

int rtGetOptConvertPair(uint32_t fFlags, const char *pszValue, RTOPTVALUE *pValue) {
    const uint32_t fType = fFlags & RTOPT_TYPE_MASK;
    const bool f64 = fType == RTOPT_TYPE_UINT64_PAIR || fType == RTOPT_TYPE_UINT64_OPTPAIR;
    const bool fOptional = fType == RTOPT_TYPE_UINT32_OPTPAIR || fType == RTOPT_TYPE_UINT64_OPTPAIR;

    char *pszNext = nullptr;
    uint64_t uFirst = 0;
    int rc = f64 ? RTStrToUInt64Ex(pszValue, &pszNext, rtGetOptPairBase(fFlags, pszValue), &uFirst) : [&] {
        uint32_t u32 = 0;
        const int rc2 = RTStrToUInt32Ex(pszValue, &pszNext, rtGetOptPairBase(fFlags, pszValue), &u32);
        uFirst = u32;
        return rc2;
    }();
    if (rc != 0 && rc != WRN_TRAILING_CHARS && rc != WRN_TRAILING_SPACES)
        return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;

    const char *psz = pszNext;
    while (*psz == ' ' || *psz == '\t')
        psz++;
    if (*psz == '/' || *psz == ':' || *psz == '|') {
        psz++;
        while (*psz == ' ' || *psz == '\t')
            psz++;
    }
    uint64_t uSecond;
    if (psz != pszNext) {
        if (f64)
            rc = RTStrToUInt64Full(psz, rtGetOptPairBase(fFlags, psz), &uSecond);
        else {
            uint32_t u32 = 0;
            rc = RTStrToUInt32Full(psz, rtGetOptPairBase(fFlags, psz), &u32);
            uSecond = u32;
        }
        if (rc != 0)
            return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
    } else {
        if (!fOptional)
            return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
        uSecond = f64 ? UINT64_MAX : UINT32_MAX;
    }
    if (f64) {
        pValue->PairU64.uFirst = uFirst;
        pValue->PairU64.uSecond = uSecond;
    } else {
        pValue->PairU32.uFirst = (uint32_t)uFirst;
        pValue->PairU32.uSecond = (uint32_t)uSecond;
    }
    return 0;
}

struct RTGETOPTBOOLWORD {
    bool fValue;
    const char *pszLower;
    const char *pszUpper;
    const char *pszMask;
};
constexpr RTGETOPTBOOLWORD g_aBoolWords[] = {
    {true, "true", "TRUE", "+--+"},
    {true, "yes", "YES", "+-+"},
    {true, "enabled", "ENABLED", "++---++"},
    {true, "on", "ON", "-+"},
    {true, "1", "1", "+"},
    {false, "false", "FALSE", "+---+"},
    {false, "no", "NO", "++"},
    {false, "disabled", "DISABLED", "+-+---++"},
    {false, "off", "OFF", "--+"},
    {false, "0", "0", "+"},
};

int rtGetOptConvertBool(const char *pszValue, RTOPTVALUE *pValue) {
    for (const RTGETOPTBOOLWORD &Word : g_aBoolWords) {
        size_t off = 0;
        while (pszValue[off] && Word.pszLower[off] &&
               (pszValue[off] == Word.pszLower[off] || pszValue[off] == Word.pszUpper[off]))
            off++;
        if (off > 0 && pszValue[off] == '\0' && Word.pszMask[off - 1] == '+') {
            pValue->f = Word.fValue;
            return 0;
        }
    }
    pValue->psz = pszValue;
    return ERR_GETOPT_UNKNOWN_OPTION;
}

int rtGetOptConvertOnOff(const char *pszValue, RTOPTVALUE *pValue) {
    const char ch0 = rtGetOptLower(pszValue[0]);
    if (ch0 == 'o' && rtGetOptLower(pszValue[1]) == 'n' && pszValue[2] == '\0') {
        pValue->f = true;
        return 0;
    }
    if (ch0 == 'o' && rtGetOptLower(pszValue[1]) == 'f' && rtGetOptLower(pszValue[2]) == 'f' && pszValue[3] == '\0') {
        pValue->f = false;
        return 0;
    }
    pValue->psz = pszValue;
    return ERR_GETOPT_UNKNOWN_OPTION;
}

// Converts a value per the type and base bits of fFlags.
int rtGetOptConvertValueInto(uint32_t fFlags, const char *pszValue, RTOPTVALUE *pValue) {
    const uint32_t fType = fFlags & RTOPT_TYPE_MASK;
    const uint32_t fBase = fFlags & (RTOPT_F_HEX | RTOPT_F_OCT | RTOPT_F_DEC);
    if (fBase != 0) {
        if (fBase != RTOPT_F_HEX && fBase != RTOPT_F_OCT && fBase != RTOPT_F_DEC)
            return ERR_INTERNAL_ERROR; // two base flags
        if (!rtGetOptIsIntegerType(fType) && !rtGetOptIsPairType(fType))
            return ERR_INTERNAL_ERROR;
    }
    switch (fType) {
    case RTOPT_TYPE_STRING:
        pValue->psz = pszValue;
        return 0;
    case RTOPT_TYPE_INT8:
    case RTOPT_TYPE_UINT8:
    case RTOPT_TYPE_INT16:
    case RTOPT_TYPE_UINT16:
    case RTOPT_TYPE_INT32:
    case RTOPT_TYPE_UINT32:
    case RTOPT_TYPE_INT64:
    case RTOPT_TYPE_UINT64: {
        if (fBase != 0)
            return rtGetOptConvertInteger(fType, pszValue,
                                          fBase == RTOPT_F_HEX   ? 16
                                          : fBase == RTOPT_F_OCT ? 8
                                                                 : 10,
                                          pValue);
        int rc = rtGetOptConvertInteger(fType, pszValue, 10, pValue);
        if (rc != 0 && rtGetOptHasHexPrefix(pszValue))
            rc = rtGetOptConvertInteger(fType, pszValue, 16, pValue);
        return rc;
    }
    case RTOPT_TYPE_IPV4ADDR:
        return RT_SUCCESS(RTNetStrToIPv4Addr(pszValue, &pValue->IPv4Addr)) ? 0 : ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
    case RTOPT_TYPE_IPV4CIDR:
        return RT_SUCCESS(RTNetStrToIPv4Cidr(pszValue, &pValue->CidrIPv4.IPv4Address, &pValue->CidrIPv4.IPv4Netmask))
                   ? 0
                   : ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
    case RTOPT_TYPE_MACADDR:
        return RT_SUCCESS(RTNetStrToMacAddr(pszValue, &pValue->MacAddr)) ? 0 : ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
    case RTOPT_TYPE_UUID:
        return RT_SUCCESS(RTUuidFromStr(&pValue->Uuid, pszValue)) ? 0 : ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
    case RTOPT_TYPE_BOOL_ONOFF:
        return rtGetOptConvertOnOff(pszValue, pValue);
    case RTOPT_TYPE_BOOL:
        return rtGetOptConvertBool(pszValue, pValue);
    case RTOPT_TYPE_UINT32_PAIR:
    case RTOPT_TYPE_UINT64_PAIR:
    case RTOPT_TYPE_UINT32_OPTPAIR:
    case RTOPT_TYPE_UINT64_OPTPAIR:
        return rtGetOptConvertPair(fFlags, pszValue, pValue);
    default:
        return ERR_INTERNAL_ERROR;
    }
}

// The number and address parsers may store part of a result before they fail; that must
// not clobber the definition pointer that a failure leaves in the union for the caller
// (the error printer reads it), so they convert into a copy kept only on success.
int rtGetOptConvertValue(uint32_t fFlags, const char *pszValue, RTOPTVALUE *pValue) {
    const uint32_t fType = fFlags & RTOPT_TYPE_MASK;
    if (fType == RTOPT_TYPE_STRING || fType == RTOPT_TYPE_BOOL || fType == RTOPT_TYPE_BOOL_ONOFF)
        return rtGetOptConvertValueInto(fFlags, pszValue, pValue);
    RTOPTVALUE Tmp = *pValue;
    const int rc = rtGetOptConvertValueInto(fFlags, pszValue, &Tmp);
    if (rc == 0)
        *pValue = Tmp;
    return rc;
}

// The value is the next argument: argv[iThis + heldBack + 1], rotated down behind the option.
int rtGetOptTakeNextArg(RTOPTSTATE *pState, int32_t iThis, const char **ppszValue) {
    const int64_t iValue = (int64_t)iThis + rtGetOptHeldBack(pState) + 1;
    if (iValue >= pState->argc)
        return ERR_GETOPT_REQUIRED_ARGUMENT_MISSING;
    rtGetOptRotate(pState->argv, iThis + 1, (int32_t)iValue);
    *ppszValue = pState->argv[iThis + 1];
    pState->nextArg++;
    return 0;
}

} // namespace

int RTGetOptInit(RTOPTSTATE *pState, int argc, char **argv, const RTOPTDEF *paOptions, size_t cOptions, int iFirst,
                 uint32_t fInitFlags) {
    if (fInitFlags & ~(RTOPT_INIT_PERMUTE | RTOPT_INIT_NO_STD_OPTS))
        return ERR_INVALID_PARAMETER;
    pState->nextArg = iFirst;
    pState->argv = argv;
    pState->argc = argc;
    pState->options = paOptions;
    pState->optionCount = (int32_t)cOptions;
    pState->shortCluster = nullptr;
    pState->lastDef = nullptr;
    pState->index = UINT32_MAX;
    pState->initFlags = fInitFlags;
    pState->heldBack = 0;
    return 0;
}

int RTGetOpt(RTOPTSTATE *pState, RTOPTVALUE *pValue) {
    pState->lastDef = nullptr;
    pState->index = UINT32_MAX;
    pValue->u64 = 0;

    const RTOPTDEF *pDef = nullptr;
    const char *pszArg = nullptr;
    size_t offValue = 0;
    bool fShort = false;
    bool fFromCluster = false;
    int32_t iThis;

    if (pState->shortCluster) {
        pDef = rtGetOptSearchShort(pState, *pState->shortCluster);
        if (!pDef) {
            pValue->psz = pState->shortCluster;
            return ERR_GETOPT_UNKNOWN_OPTION;
        }
        iThis = pState->nextArg;
        pszArg = pState->argv[iThis];
        pState->shortCluster++;
        offValue = (size_t)(pState->shortCluster - pszArg);
        fShort = true;
        fFromCluster = true;
    } else {
        for (;;) {
            if (pState->nextArg >= pState->argc)
                return 0;
            if (pState->heldBack == RTGETOPT_HELD_BACK_ALL) {
                pValue->psz = pState->argv[pState->nextArg++];
                return INF_GETOPT_NOT_OPTION;
            }
            if ((int64_t)pState->nextArg + pState->heldBack >= pState->argc) {
                pState->heldBack = RTGETOPT_HELD_BACK_ALL;
                continue;
            }
            iThis = pState->nextArg++;
            pszArg = pState->argv[iThis + pState->heldBack];

            pDef = rtGetOptSearchLong(pState, pszArg, &offValue);
            if (pDef)
                break;

            const char *pszCursor = pszArg;
            RTUNICP uCp = 0;
            const int rc = RTStrGetCpEx(&pszCursor, &uCp);
            if (RT_FAILURE(rc))
                return rc;
            const bool fDashLed = rtGetOptIsDashCp(uCp);
            const char chNext = *pszCursor;
            if (fDashLed && chNext != '\0' && chNext != '-' && (uint8_t)chNext < 0x80) {
                pDef = rtGetOptSearchShort(pState, chNext);
                if (pDef) {
                    offValue = (size_t)(pszCursor - pszArg) + 1;
                    fShort = true;
                    break;
                }
            }
            if (pszArg[0] == '-' && pszArg[1] == '-' && pszArg[2] == '\0') {
                rtGetOptRotate(pState->argv, iThis, iThis + pState->heldBack);
                pState->heldBack = RTGETOPT_HELD_BACK_ALL;
                continue;
            }
            if (!(pState->initFlags & RTOPT_INIT_PERMUTE)) {
                pValue->psz = pszArg;
                return pszArg[0] == '-' ? ERR_GETOPT_UNKNOWN_OPTION : INF_GETOPT_NOT_OPTION;
            }
            if (fDashLed) {
                pValue->psz = pszArg;
                return ERR_GETOPT_UNKNOWN_OPTION;
            }
            pState->nextArg--;
            pState->heldBack++;
            if ((int64_t)pState->nextArg + pState->heldBack >= pState->argc)
                pState->heldBack = RTGETOPT_HELD_BACK_ALL;
        }

        if ((pState->initFlags & RTOPT_INIT_PERMUTE) && pState->heldBack > 0 &&
            pState->heldBack != RTGETOPT_HELD_BACK_ALL) {
            rtGetOptRotate(pState->argv, iThis, iThis + pState->heldBack);
            pszArg = pState->argv[iThis];
        }
    }

    pValue->pDef = pDef;
    const uint32_t fType = pDef->flags & RTOPT_TYPE_MASK;
    const char *pszValue = nullptr;
    int rc = 0;
    if (fShort) {
        if (fType != RTOPT_TYPE_NONE) {
            const char ch = pszArg[offValue];
            if (ch == '\0')
                rc = rtGetOptTakeNextArg(pState, iThis, &pszValue);
            else if (ch == ':' || ch == '=')
                pszValue = &pszArg[offValue + 1];
            else
                pszValue = &pszArg[offValue];
            if (fFromCluster) {
                pState->nextArg++;
                pState->shortCluster = nullptr;
            }
        } else if (pszArg[offValue] != '\0') {
            if (!fFromCluster) {
                pState->shortCluster = &pszArg[offValue];
                pState->nextArg--;
            }
        } else if (fFromCluster) {
            pState->nextArg++;
            pState->shortCluster = nullptr;
        }
    } else if (fType != RTOPT_TYPE_NONE) {
        if (pDef->flags & RTOPT_F_INDEX) {
            const bool fDefault = (pDef->flags & (RTOPT_F_INDEX_DEF_0 | RTOPT_F_INDEX_DEF_1)) != 0;
            if (pszArg[offValue] == '\0' && !fDefault)
                return ERR_GETOPT_INDEX_MISSING;
            char *pszNext = nullptr;
            uint32_t uIndex = 0;
            const int rcIdx = RTStrToUInt32Ex(&pszArg[offValue], &pszNext, 10, &uIndex);
            if (rcIdx == ERR_NO_DIGITS) {
                if (!fDefault)
                    return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
                uIndex = ((pDef->flags >> 20) & 3) - 1;
                pszNext = (char *)&pszArg[offValue];
            } else if (rcIdx != 0 && rcIdx != WRN_TRAILING_CHARS)
                return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
            if (*pszNext == ':' || *pszNext == '=')
                pszValue = pszNext + 1;
            else if (*pszNext == '\0')
                rc = rtGetOptTakeNextArg(pState, iThis, &pszValue);
            else
                return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
            pState->index = uIndex;
        } else if (pszArg[offValue] != '\0')
            pszValue = &pszArg[offValue + 1];
        else
            rc = rtGetOptTakeNextArg(pState, iThis, &pszValue);
    } else if (pDef->flags & RTOPT_F_INDEX) {
        const bool fDefault = (pDef->flags & (RTOPT_F_INDEX_DEF_0 | RTOPT_F_INDEX_DEF_1)) != 0;
        if (pszArg[offValue] == '\0') {
            if (!fDefault)
                return ERR_GETOPT_INDEX_MISSING;
        } else {
            uint32_t uIndex = 0;
            if (RTStrToUInt32Full(&pszArg[offValue], 10, &uIndex) != 0)
                return ERR_GETOPT_INVALID_ARGUMENT_FORMAT;
            pState->index = uIndex;
        }
    }
    if (RT_FAILURE(rc))
        return rc;

    if (fType != RTOPT_TYPE_NONE) {
        rc = rtGetOptConvertValue(pDef->flags & (RTOPT_TYPE_MASK | RTOPT_F_HEX | RTOPT_F_OCT | RTOPT_F_DEC), pszValue,
                                  pValue);
        if (rc != 0)
            return rc;
    }
    pState->lastDef = pDef;
    return pDef->id;
}

int RTGetOptFetchValue(RTOPTSTATE *pState, RTOPTVALUE *pValue, uint32_t fFlags) {
    pValue->u64 = 0;
    if ((fFlags & RTOPT_TYPE_MASK) == 0 || (fFlags & ~(RTOPT_TYPE_MASK | 0xff0000U)))
        return ERR_INVALID_PARAMETER;
    const int64_t iValue = (int64_t)pState->nextArg + rtGetOptHeldBack(pState);
    if (iValue >= pState->argc)
        return ERR_GETOPT_REQUIRED_ARGUMENT_MISSING;
    pState->nextArg++;
    pValue->pDef = pState->lastDef;
    if (pState->heldBack > 0 && pState->heldBack != RTGETOPT_HELD_BACK_ALL)
        rtGetOptRotate(pState->argv, pState->nextArg - 1, (int32_t)iValue);
    return rtGetOptConvertValue(fFlags & (RTOPT_TYPE_MASK | RTOPT_F_HEX | RTOPT_F_OCT | RTOPT_F_DEC),
                                pState->argv[pState->nextArg - 1], pValue);
}
