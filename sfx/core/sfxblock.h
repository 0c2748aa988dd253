/*
 * The configuration block of a self-extracting program: the one place that
 * fixes its byte layout. The converter (C++) writes it, the stub (C) reads it.
 *
 * A self-extracting program is laid out as
 *
 *   [stub image] [configuration block] [zip archive]
 *
 * The stub image ends where its last PE section ends (the largest
 * PointerToRawData + SizeOfRawData of the section table); the block starts
 * there, and the archive starts right after the block (block start + the
 * block size field, which includes the padding).
 *
 * Block, little-endian, every field at its fixed offset:
 *
 *   off size field
 *    0   4   signature: the bytes 44 5A 00 0C (u32 0x0C005A44)
 *    4   2   block size: 12 + the size of the (padded) string table
 *    6   2   flags: option bits 0-9 (SFX_OPT_*), SFX_OPT_CREATE_EMPTY_DIRS,
 *            SFX_OPT_SUCCESS_ALWAYS, SFX_FLAG_TABLE_DEFLATED
 *    8   2   overwrite mode (SFX_OVR_*)
 *   10   2   message box type: SFX_MSGBOX_OKCANCEL, SFX_MSGBOX_YESNO or 0
 *   12   n   string table, padded with zero bytes to a multiple of 4
 *
 * String table, plain form: entries of one id byte (SFX_STR_*), the text in
 * UTF-8 and one zero byte, for every non-empty string in the order caption,
 * command line, default folder, message, registry fallback; one zero id byte
 * ends the table.
 *
 * String table, deflated form (flag SFX_FLAG_TABLE_DEFLATED): u16 deflated
 * size, u16 size of the plain table, u32 CRC-32 of the plain table, then the
 * raw deflate stream (RFC 1951) of the plain table. The converter uses it
 * only when the plain table is longer than SFX_TABLE_DEFLATE_MIN bytes and
 * the deflated form is smaller.
 *
 * The earlier fixed-record form (signature 0x01005A44) is recognised by the
 * component when it reads old programs but never written, and the stub does
 * not accept it.
 */
#ifndef TARVIK_SFX_SFXBLOCK_H
#define TARVIK_SFX_SFXBLOCK_H

/* Version prefix of the stub file and resource "ZAResSFX191" (u32 LE). */
#define SFX_STUB_VERSION 1910023u
#define SFX_STUB_MIN_VERSION 1900000u
/* A stub file (version prefix included) counts only strictly between these. */
#define SFX_STUB_SIZE_ABOVE 12000u
#define SFX_STUB_SIZE_BELOW 80000u
#define SFX_STUB_FILE_NAME "ZASFX191.bin"
#define SFX_STUB_RESOURCE_NAME "ZAResSFX191"

/* Block signature, as bytes and as the u32 read little-endian. */
#define SFX_BLOCK_SIG0 0x44u
#define SFX_BLOCK_SIG1 0x5Au
#define SFX_BLOCK_SIG2 0x00u
#define SFX_BLOCK_SIG3 0x0Cu
#define SFX_BLOCK_SIGNATURE 0x0C005A44u
#define SFX_BLOCK_SIGNATURE_OLD 0x01005A44u

/* Field offsets and sizes. */
#define SFX_BLOCK_OFF_SIGNATURE 0
#define SFX_BLOCK_OFF_SIZE 4
#define SFX_BLOCK_OFF_FLAGS 6
#define SFX_BLOCK_OFF_OVERWRITE 8
#define SFX_BLOCK_OFF_MSGBOX 10
#define SFX_BLOCK_OFF_TABLE 12
#define SFX_BLOCK_HEADER_SIZE 12
#define SFX_BLOCK_ALIGN 4
/* Deflated table: its own 8-byte header, then the deflate stream. */
#define SFX_TABLE_OFF_DEFLATED_SIZE 0
#define SFX_TABLE_OFF_PLAIN_SIZE 2
#define SFX_TABLE_OFF_CRC 4
#define SFX_TABLE_DEFLATED_HEADER 8
#define SFX_TABLE_DEFLATE_MIN 100
/* The converter refuses longer tables; the stub refuses longer blocks. */
#define SFX_TABLE_MAX 4000
#define SFX_BLOCK_MAX (SFX_BLOCK_HEADER_SIZE + SFX_TABLE_MAX + SFX_BLOCK_ALIGN)

/*
 * Flags at offset 6. Bits 0-9 are the converter's option set bits 0-9
 * unchanged; its two further options move up by one bit (0x400 -> 0x800,
 * 0x800 -> 0x1000) so that 0x400 stays free.
 */
#define SFX_OPT_ASK_CMDLINE 0x0001u    /* show the command line with a check box to skip it */
#define SFX_OPT_ASK_FILES 0x0002u      /* reserved: file selection (not offered by this stub) */
#define SFX_OPT_HIDE_OVERWRITE 0x0004u /* the dialog offers no overwrite choice */
#define SFX_OPT_AUTORUN 0x0008u        /* no dialog: extract to the default folder at once */
#define SFX_OPT_NO_SUCCESS_MSG 0x0010u /* no message at the end of a good run */
#define SFX_OPT_EXPAND_VARS 0x0020u    /* expand %NAME% in default folder and command line */
#define SFX_OPT_RESERVED_6 0x0040u
#define SFX_OPT_RESERVED_7 0x0080u
#define SFX_OPT_AUTORUN_BY_NAME \
    0x0100u                       /* SFX_OPT_AUTORUN only when the program's name starts with '!' */
#define SFX_OPT_CAN_CANCEL 0x0200u /* the running extraction can be cancelled */
#define SFX_OPT_LOW_MASK 0x03FFu
#define SFX_OPT_CREATE_EMPTY_DIRS 0x0800u /* also create folders that hold no file */
#define SFX_OPT_SUCCESS_ALWAYS 0x1000u    /* entries that failed do not make the run a failure */
#define SFX_FLAG_TABLE_DEFLATED 0x8000u

/* Overwrite mode at offset 8: the converter writes 0, 1 or 3; the stub
   treats every other value as "confirm". */
#define SFX_OVR_ALWAYS 0u
#define SFX_OVR_NEVER 1u
#define SFX_OVR_CONFIRM 3u

/* Message box type at offset 10 (Windows MB_* values): OK/Cancel with the
   information icon, Yes/No with the question icon; 0 shows just OK. A
   "Cancel" or "No" answer ends the program without extracting. */
#define SFX_MSGBOX_OKCANCEL 0x41u
#define SFX_MSGBOX_YESNO 0x24u

/* String ids. */
#define SFX_STR_CAPTION 1u
#define SFX_STR_DEFAULT_DIR 2u
#define SFX_STR_COMMAND_LINE 3u
#define SFX_STR_REG_FAIL_PATH 4u
#define SFX_STR_MESSAGE 5u
#define SFX_STR_COUNT 6 /* ids 1..5, index 0 unused */

/*
 * Meaning of the strings for the stub:
 *  - caption: the window title (a built-in title when empty);
 *  - message: shown before anything else, with the message box type above;
 *  - default folder: the proposed target folder; a leading "HKCU\", "HKLM\",
 *    "HKEY_CURRENT_USER\" or "HKEY_LOCAL_MACHINE\" names a registry value
 *    (key path, then the value name after the last backslash) whose text is
 *    the folder; the registry fallback string is used when it cannot be read.
 *    Empty: the folder of the program;
 *  - command line: run after a good extraction with the target folder as the
 *    working folder; "><" in it stands for the target folder.
 */

#endif
