// Fuzz target: the path parser, reassembly and absolute paths in both styles. A parse
// never reports components outside the text and reassembles to the length it predicts;
// an absolute path made absolute again against any base is unchanged.
#include <olma/path.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void checkParse(const std::string &strPath, uint32_t fFlags) {
    alignas(8) uint8_t abParsed[PARSEDPATH_SIZE(64)];
    ParsedPath *pParsed = (ParsedPath *)abParsed;
    if (RT_FAILURE(RTPathParse(strPath.c_str(), pParsed, sizeof(abParsed), fFlags)))
        return;
    // The reassembled form collapses separators: never longer than the text.
    if (pParsed->pathLength > strPath.size())
        abort();
    const unsigned cComps = pParsed->componentCount < 64 ? pParsed->componentCount : 64;
    for (unsigned i = 0; i < cComps; i++)
        if ((size_t)pParsed->components[i].offset + pParsed->components[i].length > strPath.size())
            abort();
    if (pParsed->componentCount > 64)
        return; // the record could not hold every component
    char szOut[1024];
    const uint16_t cchExpected = pParsed->pathLength;
    if (RT_SUCCESS(RTPathParsedReassemble(strPath.c_str(), pParsed, fFlags & PATH_STYLE_MASK, szOut, sizeof(szOut))) &&
        strlen(szOut) != cchExpected)
        abort();
}

void checkAbs(const std::string &strBase, const std::string &strPath, uint32_t fFlags) {
    char szAbs[1024];
    size_t cb = sizeof(szAbs);
    if (RT_FAILURE(RTPathAbsEx(strBase.empty() ? nullptr : strBase.c_str(), strPath.c_str(), fFlags, szAbs, &cb)))
        return;
    if (cb != strlen(szAbs))
        abort();
    // A DOS-style path made from this host's current directory has a root but no drive,
    // and this host has no current drive to give it: only paths with a drive are final.
    // (UNC paths are not: the component after the server is the share and is kept even
    // when it is "." or "..", while an absolute path drops every "." it has.)
    const uint32_t fStyle = fFlags & PATH_STYLE_MASK;
    if (fStyle == PATH_STYLE_DOS && !(isalpha((unsigned char)szAbs[0]) && szAbs[1] == ':'))
        return;
    char szAgain[1024];
    size_t cbAgain = sizeof(szAgain);
    if (RT_FAILURE(RTPathAbsEx("/elsewhere", szAbs, fStyle, szAgain, &cbAgain)) || strcmp(szAbs, szAgain) != 0)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pb, size_t cb) {
    if (cb < 1 || cb > 600)
        return 0;
    const uint8_t bFlags = pb[0];
    const std::string strInput((const char *)pb + 1, strnlen((const char *)pb + 1, cb - 1));
    const uint32_t fStyle = (bFlags & 1) ? PATH_STYLE_DOS : PATH_STYLE_UNIX;
    const uint32_t fParseFlags =
        fStyle | ((bFlags & 2) ? PATH_PARSE_NO_START : 0) | ((bFlags & 4) ? PATH_PARSE_NO_END : 0);
    checkParse(strInput, fParseFlags);

    // The base is everything up to the first line feed, the path the rest.
    const size_t offNl = strInput.find('\n');
    const std::string strBase = offNl == std::string::npos ? std::string() : strInput.substr(0, offNl);
    const std::string strPath = offNl == std::string::npos ? strInput : strInput.substr(offNl + 1);
    const uint32_t fAbsFlags = fStyle | ((bFlags & 8) ? PATHABS_TRAILING_SLASH : 0) |
                               ((bFlags & 16) ? PATHABS_WITHIN_BASE : 0) | ((bFlags & 32) ? PATHABS_WITHIN_CWD : 0);
    checkAbs(strBase, strPath, fAbsFlags);
    return 0;
}
