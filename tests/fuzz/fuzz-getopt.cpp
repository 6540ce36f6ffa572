// Fuzz target: the option parser on argument vectors (the input split at NUL bytes),
// with a table that has every value type, index options and case folding, in both
// init modes. The walk ends within a bound (each item takes at least one character or
// argument), and the diagnostic of whatever it returns can be formatted; the sanitizers
// check every read.
#include <olma/getopt.h>
#include <olma/stream.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr RTOPTDEF g_aOptions[] = {
    {"--flag", 'f', RTOPT_TYPE_NONE},
    {"--string", 's', RTOPT_TYPE_STRING},
    {"--i8", 1001, RTOPT_TYPE_INT8},
    {"--u8", 1002, RTOPT_TYPE_UINT8 | RTOPT_F_HEX},
    {"--i16", 1003, RTOPT_TYPE_INT16},
    {"--u16", 1004, RTOPT_TYPE_UINT16 | RTOPT_F_OCT},
    {"--i32", 1005, RTOPT_TYPE_INT32},
    {"--u32", 'u', RTOPT_TYPE_UINT32 | RTOPT_F_DEC},
    {"--i64", 1007, RTOPT_TYPE_INT64},
    {"--u64", 1008, RTOPT_TYPE_UINT64},
    {"--ip", 1009, RTOPT_TYPE_IPV4ADDR},
    {"--cidr", 1010, RTOPT_TYPE_IPV4CIDR},
    {"--mac", 1011, RTOPT_TYPE_MACADDR},
    {"--uuid", 1012, RTOPT_TYPE_UUID},
    {"--onoff", 1013, RTOPT_TYPE_BOOL_ONOFF},
    {"--bool", 'b', RTOPT_TYPE_BOOL},
    {"--pair32", 1015, RTOPT_TYPE_UINT32_PAIR},
    {"--pair64", 1016, RTOPT_TYPE_UINT64_PAIR},
    {"--opt32", 1017, RTOPT_TYPE_UINT32_OPTPAIR},
    {"--opt64", 1018, RTOPT_TYPE_UINT64_OPTPAIR},
    {"--disk", 1019, RTOPT_TYPE_STRING | RTOPT_F_INDEX},
    {"--nic", 1020, RTOPT_TYPE_UINT8 | RTOPT_F_INDEX | RTOPT_F_INDEX_DEF_1 | RTOPT_F_INDEX_DASH},
    {"--Case", 1021, RTOPT_TYPE_NONE | RTOPT_F_ICASE},
    {"/slash", 1022, RTOPT_TYPE_STRING},
    {"-single", 1023, RTOPT_TYPE_NONE},
    {nullptr, 'v', RTOPT_TYPE_NONE},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    if (cb < 1 || cb > 2048)
        return 0;
    // The diagnostics are formatted for real but go nowhere.
    static PRTSTREAM s_pNull = nullptr;
    if (!s_pNull && RT_FAILURE(RTStrmOpen("/dev/null", "w", &s_pNull)))
        abort();
    g_pStdErr = s_pNull;
    std::vector<std::string> Store = {"prog"};
    std::string strCur;
    for (size_t i = 1; i < cb; i++) {
        if (pb[i] == 0) {
            Store.push_back(strCur);
            strCur.clear();
        } else
            strCur.push_back((char)pb[i]);
    }
    Store.push_back(strCur);
    std::vector<char *> Argv;
    for (std::string &s : Store)
        Argv.push_back(s.data());
    Argv.push_back(nullptr);

    RTOPTSTATE State;
    const uint32_t fInit = pb[0] & (RTOPT_INIT_PERMUTE | RTOPT_INIT_NO_STD_OPTS);
    if (RT_FAILURE(RTGetOptInit(&State, (int)Store.size(), Argv.data(), g_aOptions, RT_ELEMENTS(g_aOptions), 1, fInit)))
        abort();
    // Every item consumes at least one character of the vector, so the walk is bounded.
    size_t cSteps = 0;
    const size_t cMaxSteps = cb + Store.size() + 2;
    RTOPTVALUE Value;
    int ch;
    while ((ch = RTGetOpt(&State, &Value)) != 0) {
        if (++cSteps > cMaxSteps)
            abort();
        if (ch == 's' && (pb[0] & 4)) // fetch a second value the way the installer does
            (void)RTGetOptFetchValue(&State, &Value, RTOPT_TYPE_STRING);
        if (ch < 0 || ch == INF_GETOPT_NOT_OPTION)
            (void)RTGetOptPrintError(ch, &Value);
        // An unknown letter inside a cluster is reported again on every call: callers
        // stop there.
        if (ch == ERR_GETOPT_UNKNOWN_OPTION && State.shortCluster)
            break;
    }
    return 0;
}
