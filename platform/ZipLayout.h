/*
 * The numbers of the zip record layouts in plain C: signatures, sizes and
 * field offsets of the fixed records, the extra-field head and the tags we
 * read. platform/ZipRecords.h (C++, the component and the engine) takes its
 * constants from here, and the self-extractor core (C, also built into the
 * Windows stub) reads its records with these, so that every reader of the
 * format shares one layout. All values are little-endian on disk.
 */
#ifndef TARVIK_PLATFORM_ZIPLAYOUT_H
#define TARVIK_PLATFORM_ZIPLAYOUT_H

#include <stddef.h>

/* Signatures. */
#define ZIP_SIG_LOCAL 0x04034B50u
#define ZIP_SIG_CENTRAL 0x02014B50u
#define ZIP_SIG_END 0x06054B50u
#define ZIP_SIG_END64 0x06064B50u
#define ZIP_SIG_LOCATOR64 0x07064B50u
#define ZIP_SIG_DESCRIPTOR 0x08074B50u

/* General-purpose flag bits. */
#define ZIP_FLAG_ENCRYPTED 0x0001u
#define ZIP_FLAG_DATA_DESCRIPTOR 0x0008u
#define ZIP_FLAG_UTF8 0x0800u

/* Sentinels: the real value is in the Zip64 records. */
#define ZIP_SENTINEL16 0xFFFFu
#define ZIP_SENTINEL32 0xFFFFFFFFu

/* Local file header: 30 bytes + name + extra. */
#define ZIP_LOCAL_SIZE 30u
#define ZIP_LOCAL_VERSION_NEEDED 4u
#define ZIP_LOCAL_FLAGS 6u
#define ZIP_LOCAL_METHOD 8u
#define ZIP_LOCAL_DATE_TIME 10u
#define ZIP_LOCAL_CRC 14u
#define ZIP_LOCAL_COMPRESSED_SIZE 18u
#define ZIP_LOCAL_UNCOMPRESSED_SIZE 22u
#define ZIP_LOCAL_NAME_LENGTH 26u
#define ZIP_LOCAL_EXTRA_LENGTH 28u

/* Central directory header: 46 bytes + name + extra + comment. */
#define ZIP_CENTRAL_SIZE 46u
#define ZIP_CENTRAL_VERSION_MADE_BY 4u
#define ZIP_CENTRAL_VERSION_NEEDED 6u
#define ZIP_CENTRAL_FLAGS 8u
#define ZIP_CENTRAL_METHOD 10u
#define ZIP_CENTRAL_DATE_TIME 12u
#define ZIP_CENTRAL_CRC 16u
#define ZIP_CENTRAL_COMPRESSED_SIZE 20u
#define ZIP_CENTRAL_UNCOMPRESSED_SIZE 24u
#define ZIP_CENTRAL_NAME_LENGTH 28u
#define ZIP_CENTRAL_EXTRA_LENGTH 30u
#define ZIP_CENTRAL_COMMENT_LENGTH 32u
#define ZIP_CENTRAL_DISK_START 34u
#define ZIP_CENTRAL_INTERNAL_ATTRIBUTES 36u
#define ZIP_CENTRAL_EXTERNAL_ATTRIBUTES 38u
#define ZIP_CENTRAL_LOCAL_HEADER_OFFSET 42u

/* End of central directory record: 22 bytes + comment. */
#define ZIP_END_SIZE 22u
#define ZIP_END_THIS_DISK 4u
#define ZIP_END_CENTRAL_START_DISK 6u
#define ZIP_END_ENTRIES_ON_DISK 8u
#define ZIP_END_TOTAL_ENTRIES 10u
#define ZIP_END_CENTRAL_SIZE 12u
#define ZIP_END_CENTRAL_OFFSET 16u
#define ZIP_END_COMMENT_LENGTH 20u
#define ZIP_END_MAX_COMMENT 0xFFFFu

/* Zip64 end of central directory record: 56 bytes. */
#define ZIP_END64_SIZE 56u
#define ZIP_END64_RECORD_SIZE 4u
#define ZIP_END64_VERSION_MADE_BY 12u
#define ZIP_END64_VERSION_NEEDED 14u
#define ZIP_END64_THIS_DISK 16u
#define ZIP_END64_CENTRAL_START_DISK 20u
#define ZIP_END64_ENTRIES_ON_DISK 24u
#define ZIP_END64_TOTAL_ENTRIES 32u
#define ZIP_END64_CENTRAL_SIZE 40u
#define ZIP_END64_CENTRAL_OFFSET 48u
/* The record-size field counts the bytes after itself: 56 - 12. */
#define ZIP_END64_MIN_RECORD_SIZE 44u

/* Zip64 end of central directory locator: 20 bytes, just before the end record. */
#define ZIP_LOCATOR64_SIZE 20u
#define ZIP_LOCATOR64_DISK 4u
#define ZIP_LOCATOR64_OFFSET 8u
#define ZIP_LOCATOR64_TOTAL_DISKS 16u

/* Data descriptor: signature, CRC, then 4- or 8-byte sizes. */
#define ZIP_DESCRIPTOR_SHORT_SIZE 16u
#define ZIP_DESCRIPTOR_LONG_SIZE 24u

/* Extra field: records of a tag (2) and a data size (2), then the data. */
#define ZIP_EXTRA_HEAD_SIZE 4u
#define ZIP_TAG_ZIP64 0x0001u
#define ZIP_TAG_NTFS 0x000Au
#define ZIP_TAG_EXT_TIME 0x5455u
#define ZIP_TAG_UNICODE_COMMENT 0x6375u
#define ZIP_TAG_UNICODE_PATH 0x7075u
#define ZIP_TAG_AES 0x9901u

/* The extra-field walk that every reader shares: the data size of the record
 * that starts `pos` bytes into a field of `size` bytes, or -1 when the walk
 * ends there. A record is read while its 4-byte head fits, so a head that
 * ends the field exactly is a valid record without data (the JAR marker
 * 0xCAFE is one). Fewer than four bytes left over, or a record whose data
 * would run past the end of the field, end the walk: no record is read from
 * that malformed tail. Info-ZIP unzip, 7-Zip and Python's zipfile walk the
 * same way. */
static inline long zip_extra_data_size(const unsigned char* field, size_t size, size_t pos) {
    size_t length;
    if (pos > size || size - pos < ZIP_EXTRA_HEAD_SIZE) {
        return -1;
    }
    length = (size_t)field[pos + 2] | ((size_t)field[pos + 3] << 8);
    return length > size - pos - ZIP_EXTRA_HEAD_SIZE ? -1 : (long)length;
}

#endif
