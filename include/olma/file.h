// Files: open flags, handles, reading and writing, size, information, delete and rename.
#pragma once

#include <olma/cdefs.h>
#include <olma/err.h>
#include <olma/fs.h>

/** A file handle: the platform's handle value (a descriptor on POSIX). */
using RTFILE = intptr_t;
/** The nil handle, the platform's invalid-handle value (all bits set). */
constexpr RTFILE NIL_RTFILE = -1;

/* --- Open flags (one 64-bit word; every defined bit lies in the low half) --- */
constexpr uint64_t RTFILE_O_READ = 0x00000001;
constexpr uint64_t RTFILE_O_WRITE = 0x00000002;
constexpr uint64_t RTFILE_O_READWRITE = 0x00000003;
constexpr uint64_t RTFILE_O_ACCESS_MASK = 0x00000003;
/** Write access without the right to overwrite existing data. */
constexpr uint64_t RTFILE_O_APPEND = 0x00000004;

/** Deny modes: what other handles may not do while this one is open. */
constexpr uint64_t RTFILE_O_DENY_READ = 0x00000010;
constexpr uint64_t RTFILE_O_DENY_WRITE = 0x00000020;
constexpr uint64_t RTFILE_O_DENY_READWRITE = 0x00000030;
constexpr uint64_t RTFILE_O_DENY_ALL = RTFILE_O_DENY_READWRITE;
/** Combined with the deny bits above (or alone): others may delete and rename the file. */
constexpr uint64_t RTFILE_O_DENY_NOT_DELETE = 0x00000040;
constexpr uint64_t RTFILE_O_DENY_NONE = 0x00000080;
constexpr uint64_t RTFILE_O_DENY_MASK = 0x000000f0;

/** Dispositions. */
constexpr uint64_t RTFILE_O_OPEN_CREATE = 0x00000100;
constexpr uint64_t RTFILE_O_CREATE = 0x00000200;
constexpr uint64_t RTFILE_O_CREATE_REPLACE = 0x00000300;
constexpr uint64_t RTFILE_O_OPEN = 0x00000700;
constexpr uint64_t RTFILE_O_ACTION_MASK = 0x00000700;

/** A newly created or replaced file is kept out of the content index. */
constexpr uint64_t RTFILE_O_NOT_CONTENT_INDEXED = 0x00000800;
constexpr uint64_t RTFILE_O_TRUNCATE = 0x00001000;
constexpr uint64_t RTFILE_O_INHERIT = 0x00002000;
/** Reserved; rejected. */
constexpr uint64_t RTFILE_O_RESERVED_4000 = 0x00004000;
constexpr uint64_t RTFILE_O_WRITE_THROUGH = 0x00008000;

/** Attribute access; 0 means the same as the data access. */
constexpr uint64_t RTFILE_O_ACCESS_ATTR_READ = 0x00010000;
constexpr uint64_t RTFILE_O_ACCESS_ATTR_WRITE = 0x00020000;
constexpr uint64_t RTFILE_O_ACCESS_ATTR_READWRITE = 0x00030000;
constexpr uint64_t RTFILE_O_ACCESS_ATTR_MASK = 0x00030000;

constexpr uint64_t RTFILE_O_ASYNC_IO = 0x00040000;
constexpr uint64_t RTFILE_O_NO_CACHE = 0x00080000;

/** Permission bits for a created file (0o777 shifted left by 20). */
constexpr uint64_t RTFILE_O_CREATE_MODE_MASK = 0x1ff00000;
constexpr unsigned RTFILE_O_CREATE_MODE_SHIFT = 20;

constexpr uint64_t RTFILE_O_TEMPORARY = 0x40000000;
/** Reserved; rejected. */
constexpr uint64_t RTFILE_O_RESERVED_80000000 = 0x80000000;

/** What an open did (optional output of RTFileOpenEx). */
enum RTFILEACTION : uint32_t {
    RTFILEACTION_INVALID = 0,
    RTFILEACTION_OPENED = 1,
    RTFILEACTION_CREATED = 2,
    RTFILEACTION_REPLACED = 3,
    RTFILEACTION_TRUNCATED = 4,
    RTFILEACTION_ALREADY_EXISTS = 5,
};

/** Seek methods. */
constexpr unsigned RTFILE_SEEK_BEGIN = 0;
constexpr unsigned RTFILE_SEEK_CURRENT = 1;
constexpr unsigned RTFILE_SEEK_END = 2;

/** RTFileRename: replace an existing target. */
constexpr uint32_t RTFILEMOVE_FLAGS_REPLACE = 0x1;

[[nodiscard]] int RTFileOpen(RTFILE *phFile, const char *pszFilename, uint64_t fOpen);
/** penmActionTaken may be null. */
[[nodiscard]] int RTFileOpenEx(const char *pszFilename, uint64_t fOpen, RTFILE *phFile, RTFILEACTION *penmActionTaken);
/** Closing the nil handle succeeds and does nothing. */
int RTFileClose(RTFILE hFile);
[[nodiscard]] int RTFileFlush(RTFILE hFile);
/** Wraps a platform handle; the invalid-handle value gives ERR_INVALID_HANDLE. */
[[nodiscard]] int RTFileFromNative(RTFILE *phFile, intptr_t uNative);
bool RTFileIsValid(RTFILE hFile);

/** With pcbRead null every byte must be read (ERR_EOF otherwise). */
[[nodiscard]] int RTFileRead(RTFILE hFile, void *pvBuf, size_t cbToRead, size_t *pcbRead);
/** With pcbWritten null every byte must be written (ERR_WRITE_INCOMPLETE otherwise). */
[[nodiscard]] int RTFileWrite(RTFILE hFile, const void *pvBuf, size_t cbToWrite, size_t *pcbWritten);
/** poffActual may be null. */
[[nodiscard]] int RTFileSeek(RTFILE hFile, int64_t offSeek, unsigned uMethod, uint64_t *poffActual);
/** The current position, or all bits set on failure. */
uint64_t RTFileTell(RTFILE hFile);
[[nodiscard]] int RTFileQuerySize(RTFILE hFile, uint64_t *pcbSize);
[[nodiscard]] int RTFileQueryInfo(RTFILE hFile, FsObjInfo *pObjInfo, uint32_t enmAdditionalKind);

[[nodiscard]] int RTFileDelete(const char *pszFilename);
/** fRename is 0 or RTFILEMOVE_FLAGS_REPLACE. */
[[nodiscard]] int RTFileRename(const char *pszSrc, const char *pszDst, uint32_t fRename);

/* --- Uniquely named temporary files --- */
/** Creates and opens a new file by replacing the template's run of 'X' characters
 *  with random letters and digits (at most 10000 attempts). fOpen must have the
 *  create-new disposition (ERR_INVALID_FLAGS otherwise, before anything is done).
 *  On failure the handle is NIL_RTFILE and the template holds an empty string. */
[[nodiscard]] int RTFileCreateTemp(RTFILE *phFile, char *pszTemplate, uint64_t fOpen);
