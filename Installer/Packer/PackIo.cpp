// The packer's byte sources and sinks over the runtime's file calls, and message
// formatting.
#include "PackIo.h"
#include <olma/fs.h>
#include <olma/string.h>
#include <cstring>

namespace {

size_t appendToString(void *pvArg, const char *pachChars, size_t cbChars) {
    static_cast<std::string *>(pvArg)->append(pachChars, cbChars);
    return cbChars;
}

constinit uint32_t g_cSinkFailNth = 0;

/** Counts a sink call down to the one the test hook makes fail. */
bool sinkCallFails() {
    return g_cSinkFailNth != 0 && --g_cSinkFailNth == 0;
}

} // namespace

std::string strFormatV(const char *pszFormat, va_list args) {
    std::string str;
    RTStrFormatV(appendToString, &str, nullptr, nullptr, pszFormat, args);
    return str;
}

std::string strFormat(const char *pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    std::string str = strFormatV(pszFormat, args);
    va_end(args);
    return str;
}

int MemorySource::read(uint64_t off, void *pv, size_t cb) {
    if (off > m_Bytes.size() || cb > m_Bytes.size() - off)
        return ERR_EOF;
    if (cb)
        memcpy(pv, m_Bytes.data() + off, cb);
    return 0;
}

FileSource::~FileSource() {
    RTFileClose(m_hFile);
}

int FileSource::open(const std::string &strPath, std::unique_ptr<FileSource> *ppSource) {
    ppSource->reset();
    RTFILE hFile = NIL_RTFILE;
    int rc = RTFileOpen(&hFile, strPath.c_str(), RTFILE_O_READ | RTFILE_O_OPEN | RTFILE_O_DENY_WRITE);
    if (RT_FAILURE(rc))
        return rc;
    FsObjInfo Info;
    rc = RTFileQueryInfo(hFile, &Info, FSOBJ_ADD_NOTHING);
    if (RT_SUCCESS(rc) && (Info.mode & RTFS_TYPE_MASK) != RTFS_TYPE_FILE)
        rc = (Info.mode & RTFS_TYPE_MASK) == RTFS_TYPE_DIRECTORY ? ERR_IS_A_DIRECTORY : ERR_INVALID_PARAMETER;
    uint64_t cbFile = 0;
    if (RT_SUCCESS(rc))
        rc = RTFileQuerySize(hFile, &cbFile);
    if (RT_FAILURE(rc)) {
        RTFileClose(hFile);
        return rc;
    }
    ppSource->reset(new FileSource());
    (*ppSource)->m_hFile = hFile;
    (*ppSource)->m_cbFile = cbFile;
    return 0;
}

int FileSource::read(uint64_t off, void *pv, size_t cb) {
    if (off > m_cbFile || cb > m_cbFile - off)
        return ERR_EOF;
    if (off != m_offNext) {
        int rc = RTFileSeek(m_hFile, (int64_t)off, RTFILE_SEEK_BEGIN, nullptr);
        if (RT_FAILURE(rc)) {
            m_offNext = UINT64_MAX;
            return rc;
        }
    }
    // A file that shrank since it was opened ends early: ERR_EOF.
    int rc = RTFileRead(m_hFile, pv, cb, nullptr);
    m_offNext = RT_SUCCESS(rc) ? off + cb : UINT64_MAX;
    return rc;
}

int FileSource::finish() {
    uint64_t cbNow = 0;
    int rc = RTFileQuerySize(m_hFile, &cbNow);
    if (RT_FAILURE(rc))
        return rc;
    return cbNow == m_cbFile ? 0 : ERR_STATE_CHANGED;
}

int FileSource::readAll(std::vector<uint8_t> *pBytes) {
    pBytes->resize(m_cbFile);
    int rc = read(0, pBytes->data(), pBytes->size());
    if (RT_SUCCESS(rc))
        rc = finish();
    return rc;
}

int MemorySink::write(const void *pv, size_t cb) {
    if (sinkCallFails())
        return ERR_DISK_FULL;
    Bytes.insert(Bytes.end(), (const uint8_t *)pv, (const uint8_t *)pv + cb);
    return 0;
}

int MemorySink::patch(uint64_t off, const void *pv, size_t cb) {
    if (sinkCallFails())
        return ERR_DISK_FULL;
    if (off > Bytes.size() || cb > Bytes.size() - off)
        return ERR_OUT_OF_RANGE;
    memcpy(Bytes.data() + off, pv, cb);
    return 0;
}

int FileSink::write(const void *pv, size_t cb) {
    if (sinkCallFails())
        return ERR_DISK_FULL;
    int rc = RTFileWrite(m_hFile, pv, cb, nullptr);
    if (RT_SUCCESS(rc))
        m_cbWritten += cb;
    return rc;
}

int FileSink::patch(uint64_t off, const void *pv, size_t cb) {
    if (sinkCallFails())
        return ERR_DISK_FULL;
    if (off > m_cbWritten || cb > m_cbWritten - off)
        return ERR_OUT_OF_RANGE;
    int rc = RTFileSeek(m_hFile, (int64_t)off, RTFILE_SEEK_BEGIN, nullptr);
    if (RT_SUCCESS(rc))
        rc = RTFileWrite(m_hFile, pv, cb, nullptr);
    if (RT_SUCCESS(rc))
        rc = RTFileSeek(m_hFile, (int64_t)m_cbWritten, RTFILE_SEEK_BEGIN, nullptr);
    return rc;
}

void Sink::testFailNth(uint32_t n) {
    g_cSinkFailNth = n;
}
