// The packer's inputs and output as byte streams: sources that are read at any offset
// (a file or bytes in memory), the sink the image is written to, little-endian field
// access, and message formatting with the runtime's directives.
#pragma once

#include <olma/file.h>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/** printf-style formatting with the runtime's directives (%Rrc and the like). */
std::string strFormat(const char *pszFormat, ...);
std::string strFormatV(const char *pszFormat, va_list args);

inline uint16_t getU16(const uint8_t *pb) {
    return (uint16_t)(pb[0] | pb[1] << 8);
}
inline uint32_t getU32(const uint8_t *pb) {
    return (uint32_t)pb[0] | (uint32_t)pb[1] << 8 | (uint32_t)pb[2] << 16 | (uint32_t)pb[3] << 24;
}
inline void putU16(uint8_t *pb, uint16_t u) {
    pb[0] = (uint8_t)u;
    pb[1] = (uint8_t)(u >> 8);
}
inline void putU32(uint8_t *pb, uint32_t u) {
    putU16(pb, (uint16_t)u);
    putU16(pb + 2, (uint16_t)(u >> 16));
}
inline uint64_t alignUp(uint64_t u, uint64_t uAlign) {
    return (u + uAlign - 1) & ~(uAlign - 1);
}

/** Bytes that can be read at any offset: the stub, a package, generated records. */
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    /** Reads exactly cb bytes at off: 0, ERR_EOF past the end, or the read's status. */
    virtual int read(uint64_t off, void *pv, size_t cb) = 0;
    /** Called after the last read of a pass: 0, or a status when the bytes changed
     *  under the reader (a file that grew or shrank). */
    virtual int finish() { return 0; }
};

/** Bytes in memory, owned by the source. */
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::vector<uint8_t> Bytes) : m_Bytes(std::move(Bytes)) {}
    uint64_t size() const override { return m_Bytes.size(); }
    int read(uint64_t off, void *pv, size_t cb) override;
    const std::vector<uint8_t> &bytes() const { return m_Bytes; }

private:
    std::vector<uint8_t> m_Bytes;
};

/** A file held open for reading (others may read it, not write it) while the source
 *  lives, so that what was checked is what gets packed. */
class FileSource final : public ByteSource {
public:
    ~FileSource() override;
    /** Opens a regular file: the runtime's status when it cannot be opened,
     *  ERR_IS_A_DIRECTORY or ERR_INVALID_PARAMETER when it is not a regular file. */
    static int open(const std::string &strPath, std::unique_ptr<FileSource> *ppSource);
    uint64_t size() const override { return m_cbFile; }
    int read(uint64_t off, void *pv, size_t cb) override;
    int finish() override;
    /** Reads the whole file into memory (for small inputs: icons, certificates). */
    int readAll(std::vector<uint8_t> *pBytes);

private:
    FileSource() = default;
    RTFILE m_hFile = NIL_RTFILE;
    uint64_t m_cbFile = 0;
    /** Where the next sequential read starts, so a stream of reads does not seek. */
    uint64_t m_offNext = UINT64_MAX;
};

/** Where the image goes: appended writes, plus patching bytes already written (the
 *  checksum is only known at the end). */
class Sink {
public:
    virtual ~Sink() = default;
    virtual int write(const void *pv, size_t cb) = 0;
    virtual int patch(uint64_t off, const void *pv, size_t cb) = 0;
    /** Test hook: the n-th write or patch from now on, of any sink, fails with
     *  ERR_DISK_FULL (0: none). */
    static void testFailNth(uint32_t n);
};

/** A sink into memory (tests, small images). */
class MemorySink final : public Sink {
public:
    int write(const void *pv, size_t cb) override;
    int patch(uint64_t off, const void *pv, size_t cb) override;
    std::vector<uint8_t> Bytes;
};

/** A sink into an open file. */
class FileSink final : public Sink {
public:
    explicit FileSink(RTFILE hFile) : m_hFile(hFile) {}
    int write(const void *pv, size_t cb) override;
    int patch(uint64_t off, const void *pv, size_t cb) override;

private:
    RTFILE m_hFile;
    uint64_t m_cbWritten = 0;
};
