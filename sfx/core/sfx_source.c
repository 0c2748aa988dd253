#include "sfx_source.h"

#include <string.h>

#include "sfx_result.h"

int sfx_source_read(const SfxSource* src, uint64_t offset, void* buf, size_t size) {
    if (offset > src->size || size > src->size - offset) {
        return SFX_E_FORMAT; /* a record points outside the file */
    }
    return src->read_at(src->ctx, offset, buf, size);
}

static int memory_read_at(void* ctx, uint64_t offset, void* buf, size_t size) {
    const SfxMemorySource* mem = (const SfxMemorySource*)ctx;
    if (offset > mem->size || size > mem->size - offset) {
        return SFX_E_READ;
    }
    if (size > 0) {
        memcpy(buf, mem->data + offset, size);
    }
    return SFX_OK;
}

void sfx_source_memory(SfxSource* src, SfxMemorySource* mem, const void* data, size_t size) {
    mem->data = (const unsigned char*)data;
    mem->size = size;
    src->ctx = mem;
    src->read_at = memory_read_at;
    src->size = size;
}

const char* sfx_result_text(int code) {
    switch (code) {
        case SFX_OK:
            return "ok";
        case SFX_E_READ:
            return "read error";
        case SFX_E_WRITE:
            return "write error";
        case SFX_E_DATA:
            return "damaged compressed data";
        case SFX_E_TOOBIG:
            return "data larger than declared";
        case SFX_E_MEMORY:
            return "out of memory";
        case SFX_E_CRC:
            return "checksum or size mismatch";
        case SFX_E_PASSWORD:
            return "wrong or missing password";
        case SFX_E_FORMAT:
            return "damaged or unsupported archive structure";
        case SFX_E_METHOD:
            return "unsupported compression or encryption";
        case SFX_E_NAME:
            return "unsafe entry name";
        case SFX_E_CANCEL:
            return "cancelled";
        case SFX_E_NOBLOCK:
            return "no configuration block";
        case SFX_E_NOTPE:
            return "not a Windows program";
        case SFX_E_EXISTS:
            return "exists, not overwritten";
        case SFX_E_NOARCHIVE:
            return "no archive found";
        case SFX_E_NOPART:
            return "part of the set missing";
        case SFX_E_PART:
            return "part of the set damaged or incomplete";
        default:
            return "error";
    }
}
