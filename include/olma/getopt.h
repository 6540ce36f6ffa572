// Command-line handling: argument vectors from a command string.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>

/* --- Argument vectors from a command string --- */
/** Splitting style: the quoting rules of Windows programs. */
constexpr uint32_t RTGETOPTARGV_STYLE_WINDOWS = 0;
/** Splitting style: shell-like single quotes, double quotes and backslashes. */
constexpr uint32_t RTGETOPTARGV_STYLE_SHELL = 1;
/** The bits that select the style. */
constexpr uint32_t RTGETOPTARGV_STYLE_MASK = 3;
/** Write the argument texts over the command string instead of a new buffer. */
constexpr uint32_t RTGETOPTARGV_IN_PLACE = 4;

/**
 * Splits a UTF-8 command string into a vector of arguments ending with a null entry.
 * All texts share one buffer: the command string itself with RTGETOPTARGV_IN_PLACE
 * (which is then modified, also when the call fails), otherwise a new buffer that is
 * the vector's first entry. Separators: any code point of pszSeparators, or space,
 * tab, line feed and carriage return when it is null. Release with ArgvFree.
 */
[[nodiscard]] int ArgvFromString(char ***ppapszArgv, int *pcArgs, const char *pszCmdLine, uint32_t fFlags,
                                 const char *pszSeparators);
/** Frees a vector from ArgvFromString; fInPlace must match the flag it was built with. */
void ArgvFree(char **papszArgv, bool fInPlace);

/* --- The option parser --- */
#include <olma/string.h>

/** One option definition; the table must outlive the parser state. */
struct RTOPTDEF {
    /** Full long form including its dashes or slash ("--path", "-path", "/path"); null: none. */
    const char *longName;
    /** Returned when the option is found; for a one-letter form also the letter. */
    int32_t id;
    /** Value type (RTOPT_TYPE_*) plus RTOPT_F_* flags. */
    uint32_t flags;
};

constexpr uint32_t RTOPT_TYPE_MASK = 0x1f;
constexpr uint32_t RTOPT_TYPE_NONE = 0;
constexpr uint32_t RTOPT_TYPE_STRING = 1;
constexpr uint32_t RTOPT_TYPE_INT8 = 2;
constexpr uint32_t RTOPT_TYPE_UINT8 = 3;
constexpr uint32_t RTOPT_TYPE_INT16 = 4;
constexpr uint32_t RTOPT_TYPE_UINT16 = 5;
constexpr uint32_t RTOPT_TYPE_INT32 = 6;
constexpr uint32_t RTOPT_TYPE_UINT32 = 7;
constexpr uint32_t RTOPT_TYPE_INT64 = 8;
constexpr uint32_t RTOPT_TYPE_UINT64 = 9;
constexpr uint32_t RTOPT_TYPE_IPV4ADDR = 10;
constexpr uint32_t RTOPT_TYPE_IPV4CIDR = 11;
constexpr uint32_t RTOPT_TYPE_MACADDR = 14;
constexpr uint32_t RTOPT_TYPE_UUID = 15;
constexpr uint32_t RTOPT_TYPE_BOOL_ONOFF = 16;
constexpr uint32_t RTOPT_TYPE_BOOL = 17;
constexpr uint32_t RTOPT_TYPE_UINT32_PAIR = 18;
constexpr uint32_t RTOPT_TYPE_UINT64_PAIR = 19;
constexpr uint32_t RTOPT_TYPE_UINT32_OPTPAIR = 20;
constexpr uint32_t RTOPT_TYPE_UINT64_OPTPAIR = 21;

constexpr uint32_t RTOPT_F_HEX = 0x10000;
constexpr uint32_t RTOPT_F_OCT = 0x20000;
constexpr uint32_t RTOPT_F_DEC = 0x40000;
constexpr uint32_t RTOPT_F_INDEX = 0x80000;
constexpr uint32_t RTOPT_F_INDEX_DEF_0 = 0x100000;
constexpr uint32_t RTOPT_F_INDEX_DEF_1 = 0x200000;
constexpr uint32_t RTOPT_F_INDEX_DASH = 0x400000;
constexpr uint32_t RTOPT_F_ICASE = 0x800000;

/** Non-option arguments are held back and returned after all options. */
constexpr uint32_t RTOPT_INIT_PERMUTE = 1;
/** No built-in --help / --version options. */
constexpr uint32_t RTOPT_INIT_NO_STD_OPTS = 2;

/** The converted value of an option (16 bytes, one member valid at a time). */
union RTOPTVALUE {
    const RTOPTDEF *pDef;
    const char *psz;
    bool f;
    uint8_t u8;
    int8_t i8;
    uint16_t u16;
    int16_t i16;
    uint32_t u32;
    int32_t i32;
    uint64_t u64;
    int64_t i64;
    RTNETADDRIPV4 IPv4Addr;
    struct {
        RTNETADDRIPV4 IPv4Address;
        RTNETADDRIPV4 IPv4Netmask;
    } CidrIPv4;
    RTMAC MacAddr;
    RTUUID Uuid;
    struct {
        uint32_t uFirst;
        uint32_t uSecond;
    } PairU32;
    struct {
        uint64_t uFirst;
        uint64_t uSecond;
    } PairU64;
};
static_assert(sizeof(RTOPTVALUE) == 16, "the value union is 16 bytes");

/** Parser state for one walk over one argument vector. */
struct RTOPTSTATE {
    int32_t nextArg;
    char **argv;
    int32_t argc;
    const RTOPTDEF *options;
    int32_t optionCount;
    const char *shortCluster;
    const RTOPTDEF *lastDef;
    uint32_t index;
    uint32_t initFlags;
    int32_t heldBack;
};

[[nodiscard]] int RTGetOptInit(RTOPTSTATE *pState, int argc, char **argv, const RTOPTDEF *paOptions, size_t cOptions,
                               int iFirst, uint32_t fInitFlags);
int RTGetOpt(RTOPTSTATE *pState, RTOPTVALUE *pValue);
[[nodiscard]] int RTGetOptFetchValue(RTOPTSTATE *pState, RTOPTVALUE *pValue, uint32_t fFlags);

/* --- Reporting what the caller did not handle --- */
/** Prints a one-line diagnosis of an RTGetOpt result on the standard error stream
 *  (program name and "error: " first) and returns 2, the syntax-error exit code. */
int RTGetOptPrintError(int rc, const RTOPTVALUE *pValue);
