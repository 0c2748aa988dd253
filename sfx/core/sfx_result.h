/* Result codes shared by the extraction core and its front ends. */
#ifndef TARVIK_SFX_RESULT_H
#define TARVIK_SFX_RESULT_H

#ifdef __cplusplus
extern "C" {
#endif

enum {
    SFX_OK = 0,
    SFX_E_READ = -1,       /* the program or archive file could not be read */
    SFX_E_WRITE = -2,      /* an output file could not be created or written */
    SFX_E_DATA = -3,       /* damaged compressed data */
    SFX_E_TOOBIG = -4,     /* data would grow beyond its declared size */
    SFX_E_MEMORY = -5,     /* out of memory */
    SFX_E_CRC = -6,        /* checksum or size mismatch after extraction */
    SFX_E_PASSWORD = -7,   /* no correct password given */
    SFX_E_FORMAT = -8,     /* the zip structure is damaged or unsupported */
    SFX_E_METHOD = -9,     /* compression or encryption method not supported */
    SFX_E_NAME = -10,      /* unsafe or unusable entry name */
    SFX_E_CANCEL = -11,    /* the user cancelled */
    SFX_E_NOBLOCK = -12,   /* no configuration block behind the program image */
    SFX_E_NOTPE = -13,     /* not a Windows program image */
    SFX_E_EXISTS = -14,    /* target exists and must not be overwritten (skipped) */
    SFX_E_NOARCHIVE = -15, /* no zip archive behind the configuration block */
    SFX_E_NOPART = -16,    /* a part of a multi-part set is missing or cannot be opened */
    SFX_E_PART = -17       /* a part of a multi-part set is too short or not the right file */
};

/* A short English text for a result code (for logs and the native driver). */
const char* sfx_result_text(int code);

#ifdef __cplusplus
}
#endif

#endif
