/* Records exchanged between the zip component and the compression engine library
 * (ZAEngine190.so). One header for both sides: the component fills ZEJobRec and answers
 * ZECallbackRec / ZEStreamRec; the engine reads the job and calls back with the other two.
 *
 * All records are plain C structs with natural alignment. Pointer fields are pointer-sized,
 * so on a 32-bit build the layouts are exactly the historical 76/60/48/24-byte records and on
 * a 64-bit build every pointer widens to 8 bytes (with the padding the compiler adds in front
 * of it). Field order, every other width, every value and every check constant are fixed. */
#ifndef TARVIK_ENGINE_ZEJOB_H
#define TARVIK_ENGINE_ZEJOB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct ZECallbackRec;
struct ZEStreamRec;

/* Both callbacks take one record and answer a signed 32-bit value. */
typedef int32_t (*ZECallbackFn)(struct ZECallbackRec* rec);
typedef int32_t (*ZEStreamFn)(struct ZEStreamRec* rec);

/* Memory job: deflate (or store) one buffer read through the stream callback. */
typedef struct ZEMemJob {
    int32_t Method; /* in: 8 deflate, 0 store; out: the method used */
    uint32_t Crc32; /* in: the caller's value; out: CRC-32 of the input */
    int64_t Size;   /* number of input bytes */
    void* Input;    /* input stream object (read with stream operation 4) */
    void* Output;   /* output stream object (written with stream operation 5) */
} ZEMemJob;

/* The job record handed to ZE_Exec, zero-filled by the caller. */
typedef struct ZEJobRec {
    void* OwnerWindow;     /* parent for engine dialogs; 0 when unattended (unused here) */
    void* Caller;          /* returned in every callback record */
    int32_t Version;       /* interface version, ZE_INTERFACE_VERSION */
    ZECallbackFn Callback; /* message callback */
    ZEStreamFn StreamFn;   /* stream callback */
    int32_t Verbosity;     /* -1 trace, 1 verbose, 0 quiet */
    int32_t Encoding;      /* extract: name encoding (ZE_ENC_*); add: 2 OEM, 3 UTF-8, else 0 */
    ZEMemJob* MemJob;      /* memory job descriptor, NULL for file jobs */
    int32_t NameCodePage;  /* code page of 8-bit names; 0 = Windows-1252 */
    uint32_t Flags;        /* ZE_FLAG_* */
    int32_t PasswordTries; /* extract: password prompts per entry; add: 0 */
    int32_t WriteEncoding; /* add: name encoding to write (ZE_ENC_*) */
    int32_t Level;         /* add: compression level 0-9 */
    uint32_t DateLimit;    /* add: skip files older than this DOS date-time (0 = none) */
    uint8_t Reserved[16];
    uint32_t Check; /* ZE_JOB_CHECK */
} ZEJobRec;

/* One callback from the engine; owned by the engine, valid during one call. */
typedef struct ZECallbackRec {
    void* Caller;         /* the job record's Caller */
    void* EngineData;     /* private to the engine */
    int32_t IsAdd;        /* nonzero during an add job */
    int32_t Action;       /* ZE_CB_*, low 6 bits */
    int32_t TextEncoding; /* engine->component: nonzero = 16-bit texts; reply: 2 UTF-8, 0 8-bit */
    void* Text;           /* first text; a reply pointer is stored here */
    void* Text2;          /* second text, or raw data (action 15) */
    int64_t Size;
    int64_t Written;
    int32_t Arg1;
    int32_t Arg2;
    int32_t Arg3;
    int32_t Check; /* ZE_CALLBACK_CHECK */
} ZECallbackRec;

/* One stream operation; used for in-memory input/output of the component. */
typedef struct ZEStreamRec {
    void* Caller;
    void* Unused;
    void* Stream;         /* the stream object (set by open) */
    int32_t StreamNumber; /* 0-9 */
    uint8_t Operation;    /* ZE_SOP_* */
    uint8_t Padding[3];
    void* Buffer;        /* data for read and write */
    int64_t Position;    /* seek offset in / new position out; identify: size out */
    int32_t Count;       /* read/write: count in, bytes moved out; seek: origin in first byte */
    uint32_t Date;       /* identify: DOS date-time out */
    uint32_t Attributes; /* identify: attributes out */
    uint32_t Check;      /* ZE_STREAM_CHECK */
} ZEStreamRec;

enum {
    ZE_INTERFACE_VERSION = 190,
    ZE_PRIV_VERSION = 1900111,
    ZE_JOB_CHECK = 0x03070505,
    ZE_CALLBACK_CHECK = 0x707,
    ZE_STREAM_CHECK = 0x70B
};

/* Option flags of ZEJobRec.Flags. */
enum {
    ZE_FLAG_ADD = 0x1,
    ZE_FLAG_EXTRACT = 0x4,
    ZE_FLAG_TEST = 0x8,
    ZE_FLAG_ALWAYS = 0x20,
    ZE_FLAG_UPDATE = 0x80,
    ZE_FLAG_FRESHEN = 0x100,
    ZE_FLAG_DIRNAMES = 0x200,      /* extract with folder names */
    ZE_FLAG_OVERWRITE = 0x400,     /* extract: overwrite existing files */
    ZE_FLAG_NO_EMPTY_DIRS = 0x800, /* add: AddEmptyDirs not set */
    ZE_FLAG_NO_DIRNAMES = 0x1000,  /* add: AddDirNames not set (junk paths) */
    ZE_FLAG_RECURSE = 0x2000,
    ZE_FLAG_NOT_SAFE = 0x4000,
    ZE_FLAG_MOVE = 0x10000,
    ZE_FLAG_HIDDEN = 0x20000,
    ZE_FLAG_ZIPTIME = 0x80000,
    ZE_FLAG_ARCHIVE_ONLY = 0x100000,
    ZE_FLAG_RESET_ARCHIVE = 0x200000,
    ZE_FLAG_VERSION = 0x400000,
    ZE_FLAG_UNDO = 0x800000,
    ZE_FLAG_ENCRYPT = 0x2000000,
    ZE_FLAG_VOLUME = 0x4000000,
    ZE_FLAG_EXACT_NAMES = 0x1000000, /* the include and exclude lists are taken literally (no
                                        wildcards, no "|" lists): entry names for extract,
                                        paths for add */
    ZE_FLAG_NTFS = 0x8000000,
    ZE_FLAG_WAIT_FOR_DISK = 0x10000000, /* add: the new archive reaches the disk before its name */
    ZE_FLAG_FOLLOW_LINKS = 0x20000000,  /* add: symbolic links are followed, not stored as links */
    ZE_FLAG_TEMP_ARCHIVE = 0x40000000   /* add: the archive is the bridge's temporary copy or a
                                           program it has just made: never kept in the trash */
    ,
};

/* Callback actions (ZECallbackRec.Action). */
enum {
    ZE_CB_NEW_ITEM = 1, /* Text = name, Size = item size; Size -1 = end of item */
    ZE_CB_PROGRESS = 2, /* Size = bytes done since the last report */
    ZE_CB_END_BATCH = 3,
    ZE_CB_TOTAL_COUNT = 4, /* Size = number of items */
    ZE_CB_TOTAL_SIZE = 5,  /* Size = total bytes */
    ZE_CB_NEW_EXTRA = 6,   /* Arg1 = step number 0-15, Size = step size */
    ZE_CB_EXTRA_PROGRESS = 7,
    ZE_CB_MESSAGE = 8,    /* Arg1 = engine error number (0 = information), Text = text;
                             or Arg2 = ZE_MSG_* catalogue number, Text and Text2 its arguments */
    ZE_CB_ADD_NAME = 9,   /* Text = file path, Text2 = proposed stored name */
    ZE_CB_PASSWORD = 10,  /* Text = entry name, Arg1 = tries left */
    ZE_CB_CRC_ERROR = 11, /* Text = name, Arg1 = found CRC, Arg2 = expected CRC */
    ZE_CB_OVERWRITE = 12, /* Text = path, Arg1 = default, Arg2 = index, Arg3 = 2 if not older */
    ZE_CB_SKIPPED = 13,   /* Text = name, Arg1 = error number, Arg2 = skip type + 1 */
    ZE_CB_COMMENT = 14,   /* Text = name, Text2 = comment */
    ZE_CB_LEVEL_EXTRA =
        15, /* Text = name, Text2 = extra bytes, Arg1 = their length, Arg2 = level */
    ZE_CB_EXTRACT_NAME = 16, /* Text = entry name, Text2 = base folder */
    ZE_CB_ABORT_HANDLE = 18, /* Arg1 = handle for ZE_Abort */
    ZE_CB_DATA = 19          /* Arg1 = ZE_DATA_*, Arg3 = index */
};

/* Items of the data request (action 19). */
enum {
    ZE_DATA_ARCHIVE = 0,
    ZE_DATA_PASSWORD = 1,
    ZE_DATA_ROOTDIR = 2,
    ZE_DATA_EXTRBASEDIR = 3,
    ZE_DATA_ZIPCOMMENT = 4,
    ZE_DATA_INCLUDE = 5,
    ZE_DATA_EXCLUDE = 6,
    ZE_DATA_STORESUFFIXES = 7,
    ZE_DATA_TEMPDIR = 8
};

/* Stream operations (ZEStreamRec.Operation). */
enum {
    ZE_SOP_IDENTIFY = 0,
    ZE_SOP_OPEN = 1,
    ZE_SOP_CLOSE = 2,
    ZE_SOP_SEEK = 3,
    ZE_SOP_READ = 4,
    ZE_SOP_WRITE = 5
};

/* Name encodings (ZEJobRec.Encoding and WriteEncoding). */
enum { ZE_ENC_AUTO = 0, ZE_ENC_NONE = 1, ZE_ENC_OEM = 2, ZE_ENC_UTF8 = 3, ZE_ENC_UPATH = 4 };

/* Skip types; the callback carries the type + 1 in Arg2. */
enum {
    ZE_SKIP_ON_FRESHEN = 0,
    ZE_SKIP_NO_OVERWRITE = 1,
    ZE_SKIP_FILE_EXISTS = 2,
    ZE_SKIP_BAD_PASSWORD = 3,
    ZE_SKIP_BAD_NAME = 4,
    ZE_SKIP_COMPRESSION_UNKNOWN = 5,
    ZE_SKIP_UNKNOWN_ZIP_HOST = 6,
    ZE_SKIP_ZIP_FORMAT_WRONG = 7,
    ZE_SKIP_GENERAL_EXTRACT_ERROR = 8,
    ZE_SKIP_USER = 9,
    ZE_SKIP_CANNOT_DO = 10,
    ZE_SKIP_NOT_FOUND = 11,
    ZE_SKIP_NO_SHARE = 12,
    ZE_SKIP_NO_ACCESS = 13,
    ZE_SKIP_NO_OPEN = 14,
    ZE_SKIP_DUP_NAME = 15,
    ZE_SKIP_READ_ERROR = 16,
    ZE_SKIP_SIZE_CHANGE = 17,
    ZE_SKIP_NOTHING_TO_DO = 18
};

/* The component's catalogue numbers of the engine's own texts (action 8, Arg2); the
 * component shows them in the user's language. Each takes the named strings. */
enum {
    ZE_MSG_NOTHING_TO_DO = 12,   /* - */
    ZE_MSG_NOT_A_ZIP = 300,      /* archive */
    ZE_MSG_CANNOT_READ = 301,    /* archive */
    ZE_MSG_NO_TEMP_FILE = 303,   /* archive */
    ZE_MSG_CANNOT_REPLACE = 304, /* archive */
    ZE_MSG_CANNOT_DELETE = 305,  /* file */
    ZE_MSG_NO_EXTRACT_DIR = 306, /* folder */
    ZE_MSG_BAD_LOCAL = 308,      /* entry */
    ZE_MSG_NAMES_DIFFER = 309,   /* entry */
    ZE_MSG_ENCRYPTION = 310,     /* entry */
    ZE_MSG_METHOD = 311,         /* method number, entry */
    ZE_MSG_UNSAFE_NAME = 312,    /* entry */
    ZE_MSG_FOLDER_IS_LINK = 313, /* entry */
    ZE_MSG_CANNOT_MKDIR = 314,   /* entry */
    ZE_MSG_PASSWORD = 315,       /* entry */
    ZE_MSG_AUTHENTICATION = 316, /* entry */
    ZE_MSG_CANNOT_CREATE = 317,  /* entry */
    ZE_MSG_LINK_TOO_LONG = 318,  /* entry */
    ZE_MSG_CANNOT_LINK = 319,    /* entry */
    ZE_MSG_SIZE_MISMATCH = 320,  /* entry */
    ZE_MSG_WRITE_ERROR = 321,    /* entry */
    ZE_MSG_DATA_ERROR = 322,     /* entry */
    ZE_MSG_LINK_OUTSIDE = 323,   /* entry */
    ZE_MSG_FOLDER_IN_WAY = 324,  /* entry */
    ZE_MSG_CRC_ERROR = 325       /* entry */
};

/* Engine error numbers: messages, skips and negative ZE_Exec results (-n). The component
 * shows number n as its message n + 231. */
enum {
    ZE_ERR_CANCELLED = 1,
    ZE_ERR_ABORTED = 2,
    ZE_ERR_CALLBACK = 3,
    ZE_ERR_NO_MEMORY = 4,
    ZE_ERR_INVALID_STRUCTURE = 5,
    ZE_ERR_FATAL = 6,
    ZE_ERR_PASSWORD_FAILED = 7,
    ZE_ERR_PASSWORD_CANCELLED = 8,
    ZE_ERR_INVALID_ZIP = 9,
    ZE_ERR_NO_CENTRAL = 10,
    ZE_ERR_UNEXPECTED_END = 11,
    ZE_ERR_PREMATURE_EOF = 12,
    ZE_ERR_OPEN_ZIP = 13,
    ZE_ERR_MULTIPART = 14,
    ZE_ERR_NOT_FOUND = 15,
    ZE_ERR_LOGIC = 16,
    ZE_ERR_NOTHING_TO_DO = 17,
    ZE_ERR_BAD_OPTIONS = 18,
    ZE_ERR_TEMP_FILE = 19,
    ZE_ERR_NO_PERMISSION = 20,
    ZE_ERR_READ = 21,
    ZE_ERR_CREATE = 22,
    ZE_ERR_WRITE = 23,
    ZE_ERR_SEEK = 24,
    ZE_ERR_EMPTY_ZIP = 25,
    ZE_ERR_INVALID_NAME = 26,
    ZE_ERR_ERROR = 27,
    ZE_ERR_NOTHING_FOUND = 28,
    ZE_ERR_WARNING = 29,
    ZE_ERR_DELETE = 30,
    ZE_ERR_IMPORT = 31,
    ZE_ERR_SKIPPING = 32,
    ZE_ERR_LOCKED = 33,
    ZE_ERR_ACCESS_DENIED = 34,
    ZE_ERR_DUPLICATE = 35
};

/* Exports of the library (C linkage). */
int32_t ZE_Exec(ZEJobRec* job);
int32_t ZE_Version(void);
int32_t ZE_PrivVersion(void);
int32_t ZE_Abort(int32_t handle);
int32_t ZE_Name(char* buffer, int32_t size, int32_t flags);
const char* ZE_Banner(void);
const char* ZE_Path(void);

typedef int32_t (*ZE_ExecFn)(ZEJobRec*);
typedef int32_t (*ZE_VersionFn)(void);
typedef int32_t (*ZE_AbortFn)(int32_t);
typedef int32_t (*ZE_NameFn)(char*, int32_t, int32_t);
typedef const char* (*ZE_BannerFn)(void);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#define ZE_LAYOUT(rec, field, off32, off64) \
    static_assert(offsetof(rec, field) == (sizeof(void*) == 8 ? (off64) : (off32)), #rec "." #field)
#else
#define ZE_LAYOUT(rec, field, off32, off64)                                          \
    _Static_assert(offsetof(rec, field) == (sizeof(void*) == 8 ? (off64) : (off32)), \
                   #rec "." #field)
#endif

ZE_LAYOUT(ZEJobRec, Caller, 4, 8);
ZE_LAYOUT(ZEJobRec, Version, 8, 16);
ZE_LAYOUT(ZEJobRec, Callback, 12, 24);
ZE_LAYOUT(ZEJobRec, StreamFn, 16, 32);
ZE_LAYOUT(ZEJobRec, Verbosity, 20, 40);
ZE_LAYOUT(ZEJobRec, Encoding, 24, 44);
ZE_LAYOUT(ZEJobRec, MemJob, 28, 48);
ZE_LAYOUT(ZEJobRec, NameCodePage, 32, 56);
ZE_LAYOUT(ZEJobRec, Flags, 36, 60);
ZE_LAYOUT(ZEJobRec, PasswordTries, 40, 64);
ZE_LAYOUT(ZEJobRec, WriteEncoding, 44, 68);
ZE_LAYOUT(ZEJobRec, Level, 48, 72);
ZE_LAYOUT(ZEJobRec, DateLimit, 52, 76);
ZE_LAYOUT(ZEJobRec, Reserved, 56, 80);
ZE_LAYOUT(ZEJobRec, Check, 72, 96);
ZE_LAYOUT(ZECallbackRec, IsAdd, 8, 16);
ZE_LAYOUT(ZECallbackRec, Action, 12, 20);
ZE_LAYOUT(ZECallbackRec, TextEncoding, 16, 24);
ZE_LAYOUT(ZECallbackRec, Text, 20, 32);
ZE_LAYOUT(ZECallbackRec, Text2, 24, 40);
ZE_LAYOUT(ZECallbackRec, Size, 28, 48);
ZE_LAYOUT(ZECallbackRec, Written, 36, 56);
ZE_LAYOUT(ZECallbackRec, Arg1, 44, 64);
ZE_LAYOUT(ZECallbackRec, Arg2, 48, 68);
ZE_LAYOUT(ZECallbackRec, Arg3, 52, 72);
ZE_LAYOUT(ZECallbackRec, Check, 56, 76);
ZE_LAYOUT(ZEStreamRec, Stream, 8, 16);
ZE_LAYOUT(ZEStreamRec, StreamNumber, 12, 24);
ZE_LAYOUT(ZEStreamRec, Operation, 16, 28);
ZE_LAYOUT(ZEStreamRec, Buffer, 20, 32);
ZE_LAYOUT(ZEStreamRec, Position, 24, 40);
ZE_LAYOUT(ZEStreamRec, Count, 32, 48);
ZE_LAYOUT(ZEStreamRec, Date, 36, 52);
ZE_LAYOUT(ZEStreamRec, Attributes, 40, 56);
ZE_LAYOUT(ZEStreamRec, Check, 44, 60);
ZE_LAYOUT(ZEMemJob, Crc32, 4, 4);
ZE_LAYOUT(ZEMemJob, Size, 8, 8);
ZE_LAYOUT(ZEMemJob, Input, 16, 16);
ZE_LAYOUT(ZEMemJob, Output, 20, 24);

#endif
