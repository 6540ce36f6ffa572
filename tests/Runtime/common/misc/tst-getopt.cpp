#include <gtest/gtest.h>
#include <olma/getopt.h>
#include <string>
#include <vector>

namespace {
constexpr int32_t kPath = 1000;
constexpr int32_t kSilent = 1001;
constexpr int32_t kNic = 1002;
constexpr int32_t kU8 = 1003;
constexpr int32_t kBool = 1004;
constexpr int32_t kPair = 1005;
constexpr int32_t kOnOff = 1006;
constexpr int32_t kDisk = 1007;
constexpr int32_t kBad = 1008;
constexpr int32_t kHex = 1009;
constexpr int32_t kReq = 1010;
constexpr int32_t kI16 = 1011;

const RTOPTDEF g_aOptions[] = {
    {"--path", kPath, RTOPT_TYPE_STRING},
    {"-path", kPath, RTOPT_TYPE_STRING},
    {"--silent", kSilent, RTOPT_TYPE_NONE},
    {"--nic", kNic, RTOPT_TYPE_UINT32 | RTOPT_F_INDEX | RTOPT_F_INDEX_DASH},
    {"--u8", kU8, RTOPT_TYPE_UINT8},
    {"--bool", kBool, RTOPT_TYPE_BOOL},
    {"--pair", kPair, RTOPT_TYPE_UINT32_OPTPAIR},
    {"--req", kReq, RTOPT_TYPE_UINT64_PAIR},
    {"--onoff", kOnOff, RTOPT_TYPE_BOOL_ONOFF},
    {"--disk", kDisk, RTOPT_TYPE_NONE | RTOPT_F_INDEX | RTOPT_F_INDEX_DEF_1},
    {"--bad", kBad, RTOPT_TYPE_STRING | RTOPT_F_HEX},
    {"--hex", kHex, RTOPT_TYPE_UINT16 | RTOPT_F_HEX},
    {"--i16", kI16, RTOPT_TYPE_INT16},
    {"--Case", 'C', RTOPT_TYPE_NONE | RTOPT_F_ICASE},
    {nullptr, 'x', RTOPT_TYPE_NONE},
    {nullptr, 'v', RTOPT_TYPE_NONE},
    {nullptr, 'f', RTOPT_TYPE_STRING},
};

// One returned item: the result and, depending on it, the value rendered as text.
struct Step {
    int rc;
    std::string strValue;
};

// Renders the value the way the tests compare it: strings as text, numbers in decimal.
std::string render(int rc, const RTOPTSTATE &State, const RTOPTVALUE &Val) {
    if (rc == INF_GETOPT_NOT_OPTION || rc == ERR_GETOPT_UNKNOWN_OPTION)
        return Val.psz ? Val.psz : "(null)";
    if (rc <= 0)
        return "";
    switch (rc) {
    case kPath:
    case 'f':
        return Val.psz;
    case kNic:
        return std::to_string(State.index) + ":" + std::to_string(Val.u32);
    case kDisk:
        return std::to_string((int64_t)(int32_t)State.index);
    case kU8:
        return std::to_string(Val.u8);
    case kHex:
        return std::to_string(Val.u16);
    case kI16:
        return std::to_string(Val.i16);
    case kBool:
    case kOnOff:
        return Val.f ? "true" : "false";
    case kPair:
        return std::to_string(Val.PairU32.uFirst) + "," + std::to_string(Val.PairU32.uSecond);
    case kReq:
        return std::to_string(Val.PairU64.uFirst) + "," + std::to_string(Val.PairU64.uSecond);
    default:
        return "";
    }
}

struct Walk {
    std::vector<std::string> Args; // argv[0] is the program
    uint32_t fInit;
    std::vector<Step> Steps;            // up to and including the final 0 or failure
    std::vector<std::string> FinalArgv; // empty: not checked
};

void runWalk(const Walk &w) {
    std::vector<std::string> Storage = w.Args;
    std::vector<char *> Argv;
    for (std::string &s : Storage)
        Argv.push_back(s.data());
    Argv.push_back(nullptr);
    RTOPTSTATE State;
    ASSERT_EQ(RTGetOptInit(&State, (int)Storage.size(), Argv.data(), g_aOptions, RT_ELEMENTS(g_aOptions), 1, w.fInit),
              0);
    for (size_t i = 0; i < w.Steps.size(); i++) {
        SCOPED_TRACE("step " + std::to_string(i));
        RTOPTVALUE Val;
        const int rc = RTGetOpt(&State, &Val);
        EXPECT_EQ(rc, w.Steps[i].rc);
        EXPECT_EQ(render(rc, State, Val), w.Steps[i].strValue);
        if (rc < 0)
            EXPECT_EQ(State.lastDef, nullptr);
        if (rc != w.Steps[i].rc)
            break;
    }
    if (!w.FinalArgv.empty()) {
        std::vector<std::string> Final;
        for (size_t i = 1; i < Storage.size(); i++)
            Final.push_back(Argv[i]);
        EXPECT_EQ(Final, w.FinalArgv);
    }
}

std::string u8(const char *psz) {
    return psz;
}
} // namespace

TEST(GetOpt, LongOptionsAndValues) {
    const Walk aWalks[] = {
        {{"p", "--path=C:\\x", "--path:C:\\x", "--path", "C:\\x"},
         0,
         {{kPath, "C:\\x"}, {kPath, "C:\\x"}, {kPath, "C:\\x"}, {0, ""}}},
        {{"p", "-path", "v"}, 0, {{kPath, "v"}, {0, ""}}},
        {{"p", "--path"}, 0, {{ERR_GETOPT_REQUIRED_ARGUMENT_MISSING, ""}}},
        {{"p", "--pathx"}, 0, {{ERR_GETOPT_UNKNOWN_OPTION, "--pathx"}}},
        {{"p", "--silent=1"}, 0, {{ERR_GETOPT_UNKNOWN_OPTION, "--silent=1"}}},
        {{"p", "--silent", "file"}, 0, {{kSilent, ""}, {INF_GETOPT_NOT_OPTION, "file"}, {0, ""}}},
        // Typographic dashes stand for '-' (U+2013 en dash, U+2212 minus sign).
        {{"p", u8("\xe2\x80\x93path"), "v"}, 0, {{kPath, "v"}}},
        {{"p", u8("\xe2\x88\x92\xe2\x88\x92silent")}, 0, {{kSilent, ""}}},
        {{"p", "--case", "--CASE"}, 0, {{'C', ""}, {'C', ""}}},
        {{"p", "--SILENT"}, 0, {{ERR_GETOPT_UNKNOWN_OPTION, "--SILENT"}}},
        {{"p", "-"}, 0, {{ERR_GETOPT_UNKNOWN_OPTION, "-"}}},
        {{"p", "--"}, 0, {{0, ""}}},
        {{"p", "--", "-x", "--path"}, 0, {{INF_GETOPT_NOT_OPTION, "-x"}, {INF_GETOPT_NOT_OPTION, "--path"}, {0, ""}}},
    };
    for (size_t i = 0; i < RT_ELEMENTS(aWalks); i++) {
        SCOPED_TRACE("walk " + std::to_string(i));
        runWalk(aWalks[i]);
    }
}

TEST(GetOpt, ShortOptionsAndClusters) {
    const Walk aWalks[] = {
        {{"p", "-xvf", "file", "rest"},
         0,
         {{'x', ""}, {'v', ""}, {'f', "file"}, {INF_GETOPT_NOT_OPTION, "rest"}, {0, ""}}},
        {{"p", "-xv"}, 0, {{'x', ""}, {'v', ""}, {0, ""}}},
        {{"p", "-ffile", "-f=v", "-f:w"}, 0, {{'f', "file"}, {'f', "v"}, {'f', "w"}, {0, ""}}},
        {{"p", "-xfv"}, 0, {{'x', ""}, {'f', "v"}, {0, ""}}},
        {{"p", "-f"}, 0, {{ERR_GETOPT_REQUIRED_ARGUMENT_MISSING, ""}}},
        // A cluster letter that matches nothing is reported again and again.
        {{"p", "-xq"}, 0, {{'x', ""}, {ERR_GETOPT_UNKNOWN_OPTION, "q"}, {ERR_GETOPT_UNKNOWN_OPTION, "q"}}},
        // Built-ins: -h, -? and -V when the table has no such letter; long forms.
        {{"p", "-h", "-?", "-V", "--help", "-help", "--version", "-version"},
         0,
         {{'h', ""}, {'h', ""}, {'V', ""}, {'h', ""}, {'h', ""}, {'V', ""}, {'V', ""}, {0, ""}}},
        {{"p", "-h"}, RTOPT_INIT_NO_STD_OPTS, {{ERR_GETOPT_UNKNOWN_OPTION, "-h"}}},
        {{"p", "-?"}, RTOPT_INIT_NO_STD_OPTS, {{ERR_GETOPT_UNKNOWN_OPTION, "-?"}}},
        {{"p", "--help"}, RTOPT_INIT_NO_STD_OPTS, {{ERR_GETOPT_UNKNOWN_OPTION, "--help"}}},
    };
    for (size_t i = 0; i < RT_ELEMENTS(aWalks); i++) {
        SCOPED_TRACE("walk " + std::to_string(i));
        runWalk(aWalks[i]);
    }
}

TEST(GetOpt, PermuteMode) {
    const Walk aWalks[] = {
        {{"p", "a", "b", "-x"},
         RTOPT_INIT_PERMUTE,
         {{'x', ""}, {INF_GETOPT_NOT_OPTION, "a"}, {INF_GETOPT_NOT_OPTION, "b"}, {0, ""}},
         {"-x", "a", "b"}},
        {{"p", "a", "--path", "v", "b", "-f", "w", "c"},
         RTOPT_INIT_PERMUTE,
         {{kPath, "v"},
          {'f', "w"},
          {INF_GETOPT_NOT_OPTION, "a"},
          {INF_GETOPT_NOT_OPTION, "b"},
          {INF_GETOPT_NOT_OPTION, "c"},
          {0, ""}},
         {"--path", "v", "-f", "w", "a", "b", "c"}},
        {{"p", "a", "--", "-x", "b"},
         RTOPT_INIT_PERMUTE,
         {{INF_GETOPT_NOT_OPTION, "a"}, {INF_GETOPT_NOT_OPTION, "-x"}, {INF_GETOPT_NOT_OPTION, "b"}, {0, ""}},
         {"--", "a", "-x", "b"}},
        {{"p", "a", "-q"}, RTOPT_INIT_PERMUTE, {{ERR_GETOPT_UNKNOWN_OPTION, "-q"}}},
    };
    for (size_t i = 0; i < RT_ELEMENTS(aWalks); i++) {
        SCOPED_TRACE("walk " + std::to_string(i));
        runWalk(aWalks[i]);
    }
}

TEST(GetOpt, IndexSuffixes) {
    const Walk aWalks[] = {
        {{"p", "--nic3=7", "--nic-4", "8", "--nic12:9"}, 0, {{kNic, "3:7"}, {kNic, "4:8"}, {kNic, "12:9"}, {0, ""}}},
        {{"p", "--nic=7"}, 0, {{ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""}}},
        {{"p", "--nic"}, 0, {{ERR_GETOPT_INDEX_MISSING, ""}}},
        {{"p", "--disk", "--disk7"}, 0, {{kDisk, "-1"}, {kDisk, "7"}, {0, ""}}},
        {{"p", "--diskx"}, 0, {{ERR_GETOPT_UNKNOWN_OPTION, "--diskx"}}},
    };
    for (size_t i = 0; i < RT_ELEMENTS(aWalks); i++) {
        SCOPED_TRACE("walk " + std::to_string(i));
        runWalk(aWalks[i]);
    }
}

TEST(GetOpt, ValueConversions) {
    struct Case {
        const char *pszArg;
        int rc;
        const char *pszValue;
    };
    const Case aCases[] = {
        {"--u8=255", kU8, "255"},
        {"--u8=0xff", kU8, "255"},
        {"--u8=256", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
        {"--u8=12 ", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
        {"--u8=0x", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
        {"--i16=-32768", kI16, "-32768"},
        {"--i16=32768", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
        {"--hex=ff", kHex, "255"},
        {"--hex=0x10", kHex, "16"},
        {"--bad=x", ERR_INTERNAL_ERROR, ""},
        {"--bool=en", kBool, "true"},
        {"--bool=Enable", kBool, "true"},
        {"--bool=dIs", kBool, "false"},
        {"--bool=t", kBool, "true"},
        {"--bool=YES", kBool, "true"},
        {"--bool=off", kBool, "false"},
        {"--bool=0", kBool, "false"},
        {"--bool=tr", ERR_GETOPT_UNKNOWN_OPTION, "tr"},
        {"--bool=o", ERR_GETOPT_UNKNOWN_OPTION, "o"},
        {"--bool=ena", ERR_GETOPT_UNKNOWN_OPTION, "ena"},
        {"--bool=", ERR_GETOPT_UNKNOWN_OPTION, ""},
        {"--onoff=On", kOnOff, "true"},
        {"--onoff=OFF", kOnOff, "false"},
        {"--onoff=yes", ERR_GETOPT_UNKNOWN_OPTION, "yes"},
        {"--pair=1/2", kPair, "1,2"},
        {"--pair=1 : 2", kPair, "1,2"},
        {"--pair=1 2", kPair, "1,2"},
        {"--pair=1|0x10", kPair, "1,16"},
        {"--pair=1", kPair, "1,4294967295"},
        {"--pair=1/", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
        {"--pair=x", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
        {"--req=5:6", kReq, "5,6"},
        {"--req=5", ERR_GETOPT_INVALID_ARGUMENT_FORMAT, ""},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.pszArg);
        Walk w = {{"p", c.pszArg}, 0, {{c.rc, c.pszValue}}};
        runWalk(w);
    }
}

TEST(GetOpt, FetchValueAndFlags) {
    std::string a0 = "p", a1 = "--path", a2 = "one", a3 = "0x20", a4 = "extra";
    char *apsz[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    RTOPTSTATE State;
    ASSERT_EQ(RTGetOptInit(&State, 4, apsz, g_aOptions, RT_ELEMENTS(g_aOptions), 1, 0), 0);
    RTOPTVALUE Val;
    ASSERT_EQ(RTGetOpt(&State, &Val), kPath);
    EXPECT_STREQ(Val.psz, "one");
    EXPECT_EQ(RTGetOptFetchValue(&State, &Val, 0), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTGetOptFetchValue(&State, &Val, RTOPT_TYPE_UINT32 | 0x100), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTGetOptFetchValue(&State, &Val, RTOPT_TYPE_UINT32), 0);
    EXPECT_EQ(Val.u32, 0x20u);
    EXPECT_EQ(RTGetOptFetchValue(&State, &Val, RTOPT_TYPE_STRING), ERR_GETOPT_REQUIRED_ARGUMENT_MISSING);
    EXPECT_EQ(RTGetOpt(&State, &Val), 0);

    EXPECT_EQ(RTGetOptInit(&State, 4, apsz, g_aOptions, RT_ELEMENTS(g_aOptions), 1, 4), ERR_INVALID_PARAMETER);
    EXPECT_EQ(RTGetOptInit(&State, 4, apsz, g_aOptions, RT_ELEMENTS(g_aOptions), 1, 3), 0);
    EXPECT_EQ(State.index, UINT32_MAX);
    EXPECT_EQ(State.heldBack, 0);
}

TEST(GetOpt, MalformedUtf8ArgumentFails) {
    Walk w = {{"p", "\xc0\x80"}, 0, {{ERR_INVALID_UTF8_ENCODING, ""}}};
    runWalk(w);
}
